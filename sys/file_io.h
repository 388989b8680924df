// Files as the tools use them. Each step that can fail returns true on
// success; on failure it fills `error` with the reason and leaves the
// printing to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sys/descriptor.h"
#include "text/paths.h"

// Files are read and written a chunk at a time, whatever their size, so a
// run's memory does not grow with its files.
constexpr size_t kChunkSize = size_t{1} << 20;

// The way this host's paths name folders.
PathStyle host_path_style();

enum class FileKind { regular, directory, fifo, device, other };
// What a file that is not a regular file is, for a message: "is a directory".
const char* file_kind_name(FileKind kind);

// What a file was when it was measured: which file, its kind, size, times
// and permission bits (none on Windows).
struct FileStamp {
    uint64_t device = 0, inode = 0;
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    int64_t mtime_s = 0, mtime_ns = 0, ctime_s = 0, ctime_ns = 0;
    uint32_t permissions = 0;
};

// True when two stamps are of one file (the same device and inode).
bool same_file(const FileStamp& a, const FileStamp& b);

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

// Measures the file at `path` without opening it: what a symbolic link points
// to, or with `follow_links` false, the name itself.
bool path_stamp(const std::string& path, bool follow_links, FileStamp& stamp, std::string& error);

// A descriptor's own steps, for the files the owners hold.
bool file_read_up_to(const Descriptor& fd, uint8_t* data, size_t size, size_t& done, std::string& error);
bool file_write_all(const Descriptor& fd, const uint8_t* data, size_t size, std::string& error);
// Moves to `offset` from the file's start.
bool file_seek(const Descriptor& fd, uint64_t offset, std::string& error);
bool file_stamp(const Descriptor& fd, FileStamp& stamp, std::string& error);

// A temporary file with no name, in TMPDIR (on Windows, the temporary folder),
// so that nothing is left whatever ends the run. `prefix` names it where a
// name cannot be avoided. `where` is the folder, for a message on failure.
bool unnamed_temp_file(const std::string& prefix, Descriptor& fd, std::string& where, std::string& error);

// The system directory ("/dev" or "/proc") that `directory` lies in once the
// links in it are resolved, or empty. The tools write no file there: its
// names are the system's (/dev/stdout, /proc/self/fd/1), not files to replace.
std::string system_directory_of(const std::string& directory);

// The same for where the symbolic link `path` points; empty when it is no link.
std::string link_system_directory(const std::string& path);

// Writes all of the data to standard output.
bool stdout_write_all(const uint8_t* data, size_t size, std::string& error);

// True when standard output is the file `stamp` measured.
bool stdout_is(const FileStamp& stamp);

// Flushes standard output: false, with the reason, if any line was lost.
bool stdout_flushed(std::string& error);
