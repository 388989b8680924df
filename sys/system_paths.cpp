// The system's own names, the same on every system that has them.
#include "sys/system_paths.h"

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
