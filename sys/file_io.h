// File steps of the tools. Each that can fail returns true on success; on
// failure it fills `error` with the reason and leaves the printing to the caller.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

// An input file, opened once: its size and times come from the open file, so
// what is read is the file that was measured.
struct InputFile {
    int fd = -1;
    struct stat st = {};

    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();  // closes the file
};

// Whether opening a FIFO waits for its writer, as a reader of streams does,
// or returns at once, for a caller that refuses anything but a regular file.
enum class FifoOpen { wait_for_writer, no_wait };

// Opens for reading and takes the file's status.
bool input_open(const std::string& path, FifoOpen fifo, InputFile& in, std::string& error);

// Opens the input's file again, for a reader with an offset of its own, and
// makes sure that `path` still names the same file.
bool input_reopen(const InputFile& in, const std::string& path, int& fd, std::string& error);

// The size of the file at `path`, following symbolic links, for a file that
// could not be opened.
bool path_size(const std::string& path, uint64_t& size, std::string& error);

// True once the whole input has been read: there is nothing past it, and it
// is unchanged.
bool input_read_whole(const InputFile& in, std::string& error);

// True when the file's size and times are those it had when opened, so it did
// not change while it was read.
bool input_unchanged(const InputFile& in, std::string& error);

// Reads until `size` bytes or the end of the file; `done` tells how many came.
bool file_read_up_to(int fd, uint8_t* data, size_t size, size_t& done, std::string& error);

// Reads exactly `size` bytes; an early end of file is a failure.
bool file_read_exact(int fd, uint8_t* data, size_t size, std::string& error);

bool file_write_all(int fd, const uint8_t* data, size_t size, std::string& error);

void file_close(int& fd);

// Flushes standard output: false, with the reason, if any line was lost.
bool stdout_flushed(std::string& error);
