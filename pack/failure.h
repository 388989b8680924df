// How the packing run fails: a kind for each line it can end on, and a
// failure held until its line's place comes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Each kind ends the run with its one line on standard output.
enum class PackFailureKind {
    input_param,  // "input param error": the arguments name no packing
    malloc,       // "malloc failed"
    file_open,    // "file open error": the input or the OTA file, or xz
    file_read,    // "file read error"
    file_write,   // "file write error"
    too_large,    // "image too large"
};

// The line a failure of that kind prints, last.
const char* pack_failure_line(PackFailureKind kind);

constexpr int kPackSuccess = 0;
// 255 everywhere: a main that returned -1 would exit 4294967295 on Windows.
constexpr int kPackFailure = 255;

// Sizes and payloads are described by 32-bit words.
constexpr uint64_t kMaxPayloadSize = UINT32_MAX;

// A failure found before its line's place on standard output: the run goes
// on reading the image, prints the lines that come first, then this one,
// with the reason on standard error.
struct PackFailure {
    std::optional<PackFailureKind> kind;  // none yet
    std::string subject;                  // what failed: a file name, or "xz"
    std::string reason;
};

// Keeps the first failure only: it is the one whose line comes first.
void pack_hold(PackFailure& failure, PackFailureKind kind, const std::string& subject, const std::string& reason);
