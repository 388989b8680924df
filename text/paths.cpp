#include "text/paths.h"

std::string_view path_separators(PathStyle style) { return style == PathStyle::windows ? "/\\:" : "/"; }

PathParts split_path(const std::string& path, PathStyle style) {
    size_t end = path.find_last_of(path_separators(style));
    if (end == std::string::npos) return {"", path};
    return {path.substr(0, end + 1), path.substr(end + 1)};
}

std::string system_directory_named(const std::string& resolved) {
    auto within = [&](const std::string& dir) { return resolved == dir || resolved.starts_with(dir + "/"); };
    if (within("/dev/shm")) return "";
    for (const char* system : {"/dev", "/proc"}) {
        if (within(system)) return system;
    }
    return "";
}

FileArg output_arg(const std::string& arg) {
    bool standard = arg == "-" || arg == "/dev/stdout" || arg == "/dev/fd/1" || arg == "/proc/self/fd/1";
    return {standard, arg};
}

FileArg input_arg(const std::string& arg) { return {arg == "-", arg}; }
