// An input file as the tools read it. Each step that can fail returns true
// on success; on failure it fills `error` with the reason and leaves the
// printing to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sys/descriptor.h"
#include "sys/file_stamp.h"

// Files are read and written a chunk at a time, whatever their size, so a
// run's memory does not grow with its files.
constexpr size_t kChunkSize = size_t{1} << 20;

// Whether opening a FIFO waits for its writer, as a reader of streams does,
// or returns at once, for a caller that refuses anything but a regular file.
enum class FifoOpen { wait_for_writer, no_wait };

// An input file, opened once: its size and times come from the open file, so
// what is read is the file that was measured.
class InputFile {
public:
    bool open(const std::string& path, FifoOpen fifo, std::string& error);
    // Standard input, read as a stream whatever it is.
    bool open_standard_input(std::string& error);
    bool is_open() const { return fd_.is_open(); }
    const FileStamp& stamp() const { return stamp_; }

    // Reads until `size` bytes or the end of the file; `done` tells how many came.
    bool read_up_to(uint8_t* data, size_t size, size_t& done, std::string& error);
    // Reads exactly `size` bytes; an early end of file is a failure.
    bool read_exact(uint8_t* data, size_t size, std::string& error);
    // True once the whole file has been read: there is nothing past it, and
    // it is unchanged.
    bool read_whole(std::string& error);
    // True when the file's size and times are those it had when opened, so
    // it did not change while it was read.
    bool unchanged(std::string& error) const;

    // Opens the file again, for a reader with an offset of its own, and makes
    // sure that `path` still names the same file.
    bool reopen(const std::string& path, Descriptor& again, std::string& error) const;

    void close() { fd_.reset(); }

private:
    Descriptor fd_;
    FileStamp stamp_;
};
