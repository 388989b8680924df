// Reads an OTA file and checks everything the header claims about it. Pure:
// takes the file's bytes a chunk at a time and returns a report; memory stays
// the same whatever the file claims or holds, for files from anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/ota_header.h"
#include "verify/xz_stream.h"

struct OtaVerifyLimits {
    uint64_t max_image_size = UINT32_MAX;              // decoding stops past this many bytes
    uint64_t xz_memory_limit = kXzDecoderMemoryLimit;  // for a block's xz decoder
    std::optional<uint64_t> max_file_size;             // a larger file is a problem (a flash slot's size)
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
    bool bad_magic = false;        // not an OTA file at all, most likely
    std::string magic;             // the bytes before the magic's NUL, as stored
    std::string label;             // the label's bytes up to its NUL (or the field's end)
    std::optional<OtaMode> mode;   // none when the header is short or its flags contradict
    uint32_t payload_size = 0, payload_crc = 0, image_size = 0, image_crc = 0;  // as stored
    OtaComputed computed;
    uint64_t file_size = 0;             // the whole file's length, as measured
    std::string xz_check;               // the stream's integrity check, image_compress only
    std::vector<std::string> problems;  // empty when every check passes; printable ASCII
    bool over_limit = false;            // one of them: larger than max_file_size

    bool valid() const { return problems.empty(); }
    // Whether every check of the content passed: a file only too large for
    // its slot still holds an intact image.
    bool content_valid() const { return problems.size() == (over_limit ? 1u : 0u); }
};

// The mode as reports name it: its keyword, or "inconsistent" for flags that
// name no mode, or "unknown" for a file too short to hold them.
std::string ota_report_mode_name(const OtaReport& report);

struct OtaVerify {
    OtaVerifyLimits limits;
    ByteSink image_sink;
    OtaReport report;
    // The image's first bytes, up to the end of its label slot, as they are
    // found: the label the header copies is checked against them.
    uint8_t image_head[kRawLabelOffset + kOtaMaxLabelLength] = {};
    size_t image_head_size = 0;
    uint8_t header[kOtaHeaderSize] = {};
    uint64_t fed = 0;  // bytes of the file taken so far
    XzStream xz;
};

// `image_sink`, if given, receives the raw image as it is found: the payload
// in the uncompressed modes, the decoded stream for image_compress. It is
// only the image if the report ends valid.
void ota_verify_begin(OtaVerify& verify, const OtaVerifyLimits& limits, ByteSink image_sink = {});

// How many more bytes the checks need: the header, then payload_size bytes
// and one more, to see whether the file runs past its payload.
uint64_t ota_verify_wanted(const OtaVerify& verify);

// Takes the next bytes of the file; bytes past what is wanted are counted only.
void ota_verify_feed(OtaVerify& verify, const uint8_t* data, size_t size);

// Ends the checks and completes the report. `file_size` is the whole file's
// length, which may be more than was fed.
void ota_verify_end(OtaVerify& verify, uint64_t file_size);
