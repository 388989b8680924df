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
