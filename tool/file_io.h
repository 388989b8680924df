// File steps of the tools. Each returns true on success; on failure it fills
// `error` with the system's reason and leaves the printing to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The size of the file at `path`, following symbolic links.
bool file_size(const std::string& path, uint64_t& size, std::string& error);

bool file_open_read(const std::string& path, int& fd, std::string& error);

// Reads until `size` bytes or the end of the file; `done` tells how many came.
bool file_read_up_to(int fd, uint8_t* data, size_t size, size_t& done, std::string& error);

// Reads exactly `size` bytes; an early end of file is a failure.
bool file_read_exact(int fd, uint8_t* data, size_t size, std::string& error);

void file_close(int& fd);

// An output file that is removed again unless it is completed: a failed or
// killed run never leaves a partial file under the output name.
struct OutputFile {
    std::string path;
    int fd = -1;
    bool remove_on_failure = false;  // set for regular files only: never unlink a device
};

// Creates the file, or truncates an existing one, with the permissions a new
// file gets (0666 less the umask).
bool output_create(const std::string& path, OutputFile& out, std::string& error);

// Writes all `size` bytes and closes the file; on failure the file is removed.
bool output_write_close(OutputFile& out, const uint8_t* data, size_t size, std::string& error);

// Closes and removes an output file that will not be completed.
void output_discard(OutputFile& out);
