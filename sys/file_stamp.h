// What a file is, measured: which file, its kind, size and times.
#pragma once

#include <cstdint>
#include <string>

#include "sys/descriptor.h"

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

// Measures an open file; true on success, else `error` says why.
bool file_stamp(const Descriptor& fd, FileStamp& stamp, std::string& error);

// Measures the file at `path` without opening it: what a symbolic link points
// to, or with `follow_links` false, the name itself.
bool path_stamp(const std::string& path, bool follow_links, FileStamp& stamp, std::string& error);
