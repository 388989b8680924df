// ota_info's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sys/system_paths.h"
#include "text/progress.h"

// Exit statuses.
constexpr int kInfoValid = 0;
constexpr int kInfoInvalid = 1;
constexpr int kInfoTrouble = 2;  // usage error, or a file that cannot be read or written

struct InfoOptions {
    enum class Action { run, help, version, usage_failure };
    Action action = Action::usage_failure;
    std::string problem;  // for a usage failure: what is wrong, naming the argument
    bool json = false;
    std::optional<FileArg> extract;  // RAW, or standard output by any of its names
    std::optional<uint64_t> max_size;
    bool sha256 = false;  // the digests of the file and of its image
    ProgressChoice progress = ProgressChoice::automatic;
    std::vector<std::string> files;  // "-" is standard input
};

// "4096", "0x1000", "4K", "4KiB", "0x10 MiB", "1G": decimal or 0x hexadecimal,
// with an optional binary suffix after at most one blank. False for anything
// else (blanks before or after too) or a size past 64 bits.
bool parse_size(const std::string& text, uint64_t& size);

// Reads the command line; prints nothing. Its action says whether it names
// a run, asks for the help or the version, or is a usage failure.
InfoOptions parse_info_arguments(int argc, char** argv);

// The help text --help prints.
extern const char kInfoUsage[];
