// How the packing run reports: the lines it prints on standard output, and a
// failure held until its line's place comes.
#pragma once

#include <cstdint>
#include <string>

// A failure prints one of these lines, last, and ends the run with kPackFailure.
constexpr const char* kSayInputParamError = "input param error";
constexpr const char* kSayMallocFailed = "malloc failed";
constexpr const char* kSayFileOpenError = "file open error";
constexpr const char* kSayFileReadError = "file read error";
constexpr const char* kSayFileWriteError = "file write error";
constexpr const char* kSayImageTooLarge = "image too large";

constexpr int kPackSuccess = 0;
// 255 everywhere: a main that returned -1 would exit 4294967295 on Windows.
constexpr int kPackFailure = 255;

// Sizes and payloads are described by 32-bit words.
constexpr uint64_t kMaxPayloadSize = UINT32_MAX;

// A failure found before its line's place on standard output: the run goes
// on reading the image, prints the lines that come first, then this one,
// with the reason on standard error.
struct PackFailure {
    const char* line = nullptr;  // none yet
    std::string subject;         // what failed: a file name, or "xz"
    std::string reason;
};

// Keeps the first failure only: it is the one whose line comes first.
void pack_hold(PackFailure& failure, const char* line, const std::string& subject, const std::string& reason);
