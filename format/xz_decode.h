// Decodes one xz stream in memory, with bounds on output and decoder memory,
// for reading OTA files that may come from anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct XzDecodeLimits {
    uint64_t max_output;     // decoding stops with a failure once output would pass this
    uint64_t memory_limit;   // for the decoder's own state (dictionary and such)
};

struct XzDecodeResult {
    bool ok = false;            // one complete stream, nothing after it, within the limits
    bool output_exceeded = false;
    std::string error;          // what went wrong when !ok
    std::string check;          // the stream's integrity check: "None", "CRC32", "CRC64", "SHA-256"
    std::vector<uint8_t> output;  // what was decoded, also on failure
};

XzDecodeResult xz_decode(const uint8_t* input, size_t input_size, const XzDecodeLimits& limits);
