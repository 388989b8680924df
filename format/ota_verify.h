// Reads an OTA file and checks everything the header claims about it.
// Pure: takes bytes, returns a report; for files from anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct OtaVerifyLimits {
    uint64_t max_image_size = UINT32_MAX;        // decoding stops past this many bytes
    uint64_t xz_memory_limit = uint64_t{64} << 20;  // for the xz decoder's state
};

struct OtaComputed {
    uint64_t payload_size = 0;  // bytes after the header
    uint16_t payload_crc = 0;   // of the payload's first payload_size bytes (or all, if fewer)
    // The raw image, when it could be had: the payload itself, or its stream decoded whole.
    std::optional<uint64_t> image_size;
    std::optional<uint16_t> image_crc;
};

struct OtaReport {
    bool header_complete = false;  // the file holds the 128 header bytes
    std::string magic;             // the bytes before the magic's NUL, as stored
    std::string label;             // the label's bytes up to its NUL (or the field's end)
    std::string mode;              // image_copy, image_compress, flash_remapping or inconsistent
    uint32_t payload_size = 0, payload_crc = 0, image_size = 0, image_crc = 0;  // as stored
    OtaComputed computed;
    std::string xz_check;               // the stream's integrity check, image_compress only
    std::vector<std::string> problems;  // empty when every check passes

    bool valid() const { return problems.empty(); }
};

// The raw image an OTA file carries: a view into the file's bytes for the
// uncompressed modes, or into `decoded` for image_compress.
struct OtaImage {
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::vector<uint8_t> decoded;
};

// Checks an OTA file of `file_size` bytes whose first `size` bytes are at
// `data` (the caller may leave off bytes past header and payload_size).
// When `image` is given and the file is valid, it is set to the raw image.
OtaReport ota_verify(const uint8_t* data, size_t size, uint64_t file_size, const OtaVerifyLimits& limits,
                     OtaImage* image = nullptr);
