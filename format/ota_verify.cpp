#include "format/ota_verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "format/crc16_xmodem.h"
#include "format/ota_header.h"
#include "format/xz_decode.h"

namespace {

std::string hex_word(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

bool all_ff(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0xFF; });
}

bool is_flag(uint32_t word) { return word == kOtaFlagSet || word == kOtaFlagClear; }

// The header's fixed parts: magic, fill, constant and reserved words, flags, label.
void check_header(const uint8_t* h, OtaReport& report) {
    auto& problems = report.problems;
    const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(h + kOtaMagic, 0, 32));
    report.magic.assign(reinterpret_cast<const char*>(h), nul ? static_cast<size_t>(nul - h) : 32);
    if (std::memcmp(h + kOtaMagic, kOtaMagicText, kOtaMagicLength) != 0) {
        problems.push_back("bad magic");
    } else if (!all_ff(h + kOtaMagicLength, 32 - kOtaMagicLength)) {
        problems.push_back("magic not followed by 0xFF fill");
    }

    const uint8_t* label = h + kOtaImageLabel;
    const void* label_nul = std::memchr(label, 0, kOtaLabelSize);
    size_t label_length = label_nul ? static_cast<size_t>(static_cast<const uint8_t*>(label_nul) - label) : kOtaLabelSize;
    report.label.assign(reinterpret_cast<const char*>(label), label_length);
    if (!label_nul) problems.push_back("label has no NUL within its field");

    uint32_t remap = ota_load_le32(h + kOtaRemapFlag);
    uint32_t compress = ota_load_le32(h + kOtaCompressFlag);
    uint32_t marker = ota_load_le32(h + kOtaRemapMarker);
    if (!is_flag(remap)) problems.push_back("remap_flag " + hex_word(remap) + " is neither set nor clear");
    if (!is_flag(compress)) problems.push_back("compress_flag " + hex_word(compress) + " is neither set nor clear");
    uint32_t expected_marker = remap == kOtaFlagSet ? kOtaRemapMarkerValue : kOtaFlagClear;
    if (is_flag(remap) && marker != expected_marker) {
        problems.push_back("remap_marker " + hex_word(marker) + " does not match remap_flag");
    }
    if (ota_load_le32(h + kOtaZeroWord) != 0) problems.push_back("zero_word is not 0");
    if (ota_load_le32(h + kOtaReserved44) != 0xFFFFFFFF) problems.push_back("reserved word at 0x44 is not 0xFFFFFFFF");
    if (ota_load_le32(h + kOtaReserved60) != 0xFFFFFFFF) problems.push_back("reserved word at 0x60 is not 0xFFFFFFFF");
    if (!all_ff(h + kOtaReservedTail, kOtaHeaderSize - kOtaReservedTail)) {
        problems.push_back("reserved bytes 0x68..0x7F are not all 0xFF");
    }

    if (!is_flag(remap) || !is_flag(compress) || (remap == kOtaFlagSet && compress == kOtaFlagSet)) {
        report.mode = "inconsistent";
        if (is_flag(remap) && is_flag(compress)) problems.push_back("remap_flag and compress_flag are both set");
    } else if (compress == kOtaFlagSet) {
        report.mode = "image_compress";
    } else if (remap == kOtaFlagSet) {
        report.mode = "flash_remapping";
    } else {
        report.mode = "image_copy";
    }
}

}  // namespace

OtaReport ota_verify(const uint8_t* data, size_t size, uint64_t file_size, const OtaVerifyLimits& limits,
                     OtaImage* image) {
    OtaReport report;
    if (size < kOtaHeaderSize || file_size < kOtaHeaderSize) {
        report.mode = "unknown";
        report.problems.push_back("file is shorter than the 128-byte header");
        return report;
    }
    report.header_complete = true;
    check_header(data, report);
    report.payload_size = ota_load_le32(data + kOtaPayloadSize);
    report.payload_crc = ota_load_le32(data + kOtaPayloadCrc);
    report.image_size = ota_load_le32(data + kOtaImageSize);
    report.image_crc = ota_load_le32(data + kOtaImageCrc);

    // The payload: payload_size bytes after the header, or what there is of them.
    report.computed.payload_size = file_size - kOtaHeaderSize;
    const uint8_t* payload = data + kOtaHeaderSize;
    size_t payload_present = std::min<uint64_t>(size - kOtaHeaderSize, report.payload_size);
    report.computed.payload_crc = CRC16_XMODEM(payload, payload_present);
    if (report.computed.payload_size < report.payload_size) {
        report.problems.push_back("payload is shorter than payload_size");
    } else if (report.computed.payload_size > report.payload_size) {
        report.problems.push_back("file runs past the end of the payload");
    }
    if (report.payload_crc > 0xFFFF) report.problems.push_back("payload_crc has bits above the 16-bit checksum");
    if (report.image_crc > 0xFFFF) report.problems.push_back("image_crc has bits above the 16-bit checksum");
    if (report.computed.payload_crc != report.payload_crc) report.problems.push_back("payload_crc does not match the payload");

    std::vector<uint8_t> decoded;
    if (report.mode == "image_copy" || report.mode == "flash_remapping") {
        report.computed.image_size = payload_present;
        report.computed.image_crc = report.computed.payload_crc;
        if (report.image_size != report.payload_size) report.problems.push_back("image_size differs from payload_size");
        if (report.image_crc != report.payload_crc) report.problems.push_back("image_crc differs from payload_crc");
    } else if (report.mode == "image_compress") {
        XzDecodeLimits xz_limits{std::min<uint64_t>(report.image_size, limits.max_image_size), limits.xz_memory_limit};
        XzDecodeResult xz = xz_decode(payload, payload_present, xz_limits);
        report.xz_check = xz.check;
        if (!xz.ok) {
            if (xz.output_exceeded && report.image_size > limits.max_image_size) {
                report.problems.push_back("image_size is larger than this reader decodes");
            } else {
                report.problems.push_back(xz.error);
            }
        } else {
            report.computed.image_size = xz.output.size();
            report.computed.image_crc = CRC16_XMODEM(xz.output.data(), xz.output.size());
            if (*report.computed.image_size != report.image_size) {
                report.problems.push_back("xz stream decodes to fewer bytes than image_size");
            }
            if (*report.computed.image_crc != report.image_crc) {
                report.problems.push_back("image_crc does not match the decoded image");
            }
            decoded = std::move(xz.output);
        }
    }

    if (image != nullptr && report.valid()) {
        if (report.mode == "image_compress") {
            image->decoded = std::move(decoded);
            image->data = image->decoded.data();
            image->size = image->decoded.size();
        } else {
            image->data = payload;
            image->size = payload_present;
        }
    }
    return report;
}
