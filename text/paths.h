// File names as text, by the rules of the system they name files on.
#pragma once

#include <string>
#include <string_view>

// POSIX names end a folder's name with '/'; Windows also with '\' and a
// drive's ':'. The system layer says which one this host has.
enum class PathStyle { posix, windows };

// The characters that end a folder's name in a path.
std::string_view path_separators(PathStyle style);

// A path cut after its last separator: "out/app.bin" is "out/" and "app.bin",
// "app.bin" is "" and "app.bin", "out/" is "out/" and "".
struct PathParts {
    std::string directory;  // with its separator; empty for the current directory
    std::string name;
};
PathParts split_path(const std::string& path, PathStyle style);

// For an absolute path with its links resolved: the system directory it lies
// in, "/dev" or "/proc", or empty. /dev/shm, the file system for shared
// memory, holds ordinary files and is none.
std::string system_directory_named(const std::string& resolved);

// A file named on a command line, where "-" stands for a standard stream.
struct FileArg {
    bool standard = false;  // standard input or output, by where the name stands
    std::string path;       // the name as given
};
// As an output: "-", and standard output's other names (/dev/stdout,
// /dev/fd/1, /proc/self/fd/1), which are not files to replace.
FileArg output_arg(const std::string& arg);
// As an input: "-" alone; any other name is a file, /dev/stdin too.
FileArg input_arg(const std::string& arg);
