// The packing run of image_gen_header: raw image in, OTA file out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "verify/xz_stream.h"
#include "sys/atomic_file.h"
#include "sys/child.h"

// The lines the run prints, on standard output. A failure prints one line
// and ends the run with kPackFailure.
constexpr const char* kSayInputParamError = "input param error";
constexpr const char* kSayMallocFailed = "malloc failed";
constexpr const char* kSayFileOpenError = "file open error";
constexpr const char* kSayFileReadError = "file read error";
constexpr const char* kSayFileWriteError = "file write error";
constexpr const char* kSayImageTooLarge = "image too large";

constexpr int kPackSuccess = 0;
constexpr int kPackFailure = -1;

// Sizes and payloads are described by 32-bit words.
constexpr uint64_t kMaxPayloadSize = UINT32_MAX;

// Runs `image_gen_header [-o OUTPUT] INPUT MODE [ignored...]` and returns main's status.
int pack_run(int argc, char** argv);

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

// The image_compress payload: xz reads the image file itself, and the stream
// that comes back is written behind the header at once, counted, checksummed
// and decoded, so the stream is never held whole. Decoding proves the stream:
// it must give back exactly the bytes the tool read and checksummed, which
// xz's exit status alone does not tell.
struct CompressedPayload {
    XzChild xz;
    bool running = false;
    uint8_t* buffer = nullptr;  // the caller's, for the stream as it comes back
    size_t buffer_size = 0;
    uint64_t size = 0;
    uint16_t crc = 0;
    XzStream check;  // decodes the stream as it comes back
};

// Starts xz on `input_fd`, a descriptor of the image file of its own, for an
// image of `image_size` bytes; a failure is held.
void compressed_start(CompressedPayload& payload, int input_fd, uint64_t image_size, PackFailure& failure);
// Writes the stream to `out` as xz gives it and reaps xz. The stream must be
// one sound xz stream of the form asked for that decodes to the image:
// `image_size` bytes whose CRC-16 is `image_crc`.
void compressed_finish(CompressedPayload& payload, OutputFile& out, uint64_t image_size, uint16_t image_crc,
                       PackFailure& failure);
// Kills xz, for a run that gives up.
void compressed_abort(CompressedPayload& payload);
