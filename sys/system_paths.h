// The names this host gives its files: how its paths name folders, and the
// names that are the system's own rather than files to write (the standard
// streams' other names, and what lies in /dev and /proc).
#pragma once

#include <string>

#include "text/paths.h"

// The way this host's paths name folders.
PathStyle host_path_style();

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

// For an absolute path with its links resolved: the system directory it lies
// in, "/dev" or "/proc", or empty. /dev/shm, the file system for shared
// memory, holds ordinary files and is none.
std::string system_directory_named(const std::string& resolved);

// The system directory that `directory` lies in once the links in it are
// resolved, or empty. The tools write no file there: its names are the
// system's (/dev/stdout, /proc/self/fd/1), not files to replace.
std::string system_directory_of(const std::string& directory);

// The same for where the symbolic link `path` points; empty when it is no link.
std::string link_system_directory(const std::string& path);
