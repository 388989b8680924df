// File steps of the tools. Each that can fail returns true on success; on
// failure it fills `error` with the reason and leaves the printing to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The characters that end a folder's name in a path.
#ifdef _WIN32
inline constexpr char kPathSeparators[] = "/\\:";
#else
inline constexpr char kPathSeparators[] = "/";
#endif

enum class FileKind { regular, directory, other };

// What a file was when it was measured: which file, its kind, size and times.
struct FileStamp {
    uint64_t device = 0, inode = 0;
    FileKind kind = FileKind::other;
    uint64_t size = 0;
    int64_t mtime_s = 0, mtime_ns = 0, ctime_s = 0, ctime_ns = 0;
};

// An input file, opened once: its size and times come from the open file, so
// what is read is the file that was measured.
struct InputFile {
    int fd = -1;
    FileStamp stamp;

    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();  // closes the file
};

// Whether opening a FIFO waits for its writer, as a reader of streams does,
// or returns at once, for a caller that refuses anything but a regular file.
enum class FifoOpen { wait_for_writer, no_wait };

// Measures an open file.
bool file_stamp(int fd, FileStamp& stamp, std::string& error);

// Opens for reading and takes the file's status.
bool input_open(const std::string& path, FifoOpen fifo, InputFile& in, std::string& error);

// Opens the input's file again, for a reader with an offset of its own, and
// makes sure that `path` still names the same file.
bool input_reopen(const InputFile& in, const std::string& path, int& fd, std::string& error);

// Measures the file at `path` without opening it: what a symbolic link points
// to, or with `follow_links` false, the name itself.
bool path_stamp(const std::string& path, bool follow_links, FileStamp& stamp, std::string& error);

// True when two stamps are of one file (the same device and inode).
bool same_file(const FileStamp& a, const FileStamp& b);

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

// Closes the file: a failure here is a failed write. `fd` is -1 after, either way.
bool file_close_checked(int& fd, std::string& error);

// Moves to `offset` from the file's start.
bool file_seek(int fd, uint64_t offset, std::string& error);

// Renames `from` over `to`, which it replaces as a name.
bool path_replace(const std::string& from, const std::string& to, std::string& error);

// Removes the name, if it can.
void path_remove(const std::string& path);

// Writes all of the data to standard output.
bool stdout_write_all(const uint8_t* data, size_t size, std::string& error);

// A temporary file with no name, in TMPDIR or /tmp, so that nothing is left
// whatever ends the run: -1 with the reason when none can be made.
int unnamed_temp_file(std::string& error);

// The system directory ("/dev" or "/proc") that `path` points into when it is
// a symbolic link into one, or empty.
std::string path_links_into_system(const std::string& path);

// Flushes standard output: false, with the reason, if any line was lost.
bool stdout_flushed(std::string& error);
