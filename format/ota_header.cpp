#include "format/ota_header.h"

#include <cstring>

namespace {

// The one table of mode names, shared by the packer's command line and the reader's reports.
constexpr struct {
    OtaMode mode;
    const char* name;
} kModeNames[] = {
    {OtaMode::image_copy, "image_copy"},
    {OtaMode::image_compress, "image_compress"},
    {OtaMode::flash_remapping, "flash_remapping"},
};

}  // namespace

const char* ota_mode_name(OtaMode mode) {
    for (const auto& entry : kModeNames) {
        if (entry.mode == mode) return entry.name;
    }
    return "";
}

std::optional<OtaMode> ota_mode_named(std::string_view keyword) {
    for (const auto& entry : kModeNames) {
        if (keyword == entry.name) return entry.mode;
    }
    return std::nullopt;
}

uint32_t ota_load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void ota_store_le32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t ota_header_word(const OtaHeader& header, size_t offset) { return ota_load_le32(header.bytes + offset); }

void ota_header_start(OtaHeader& header, OtaMode mode) {
    std::memset(header.bytes, 0xFF, sizeof header.bytes);
    // A clear flag is the fill itself; only set flags and the marker are written.
    if (mode == OtaMode::flash_remapping) {
        ota_store_le32(header.bytes + kOtaRemapFlag, kOtaFlagSet);
        ota_store_le32(header.bytes + kOtaRemapMarker, kOtaRemapMarkerValue);
    }
    if (mode == OtaMode::image_compress) ota_store_le32(header.bytes + kOtaCompressFlag, kOtaFlagSet);
}

void ota_header_stamp(OtaHeader& header) {
    ota_store_le32(header.bytes + kOtaZeroWord, 0);
    std::memcpy(header.bytes + kOtaMagic, kOtaMagicText, kOtaMagicLength);
}

void ota_header_set_image_size(OtaHeader& header, uint32_t size) {
    ota_store_le32(header.bytes + kOtaPayloadSize, size);
    ota_store_le32(header.bytes + kOtaImageSize, size);
}

void ota_header_set_image_crc(OtaHeader& header, uint16_t crc) {
    ota_store_le32(header.bytes + kOtaPayloadCrc, crc);
    ota_store_le32(header.bytes + kOtaImageCrc, crc);
}

void ota_header_set_payload_size(OtaHeader& header, uint32_t size) {
    ota_store_le32(header.bytes + kOtaPayloadSize, size);
}

void ota_header_set_payload_crc(OtaHeader& header, uint16_t crc) {
    ota_store_le32(header.bytes + kOtaPayloadCrc, crc);
}

// Copies the string at raw offset 0x100 up to and including its NUL. An image
// with no bytes there gets an empty label; a string with no NUL within the
// field or before the image ends is cut and given one, so the copy never reads
// past the image nor writes past the field. Bytes after the NUL keep 0xFF.
void ota_header_set_label(OtaHeader& header, const uint8_t* raw, size_t raw_size) {
    uint8_t* label = header.bytes + kOtaImageLabel;
    size_t available = raw_size > kRawLabelOffset ? raw_size - kRawLabelOffset : 0;
    size_t limit = available < kOtaLabelSize - 1 ? available : kOtaLabelSize - 1;
    size_t length = 0;
    while (length < limit && raw[kRawLabelOffset + length] != 0) length++;
    if (length > 0) std::memcpy(label, raw + kRawLabelOffset, length);
    label[length] = 0;
}

void ota_header_serialise(const OtaHeader& header, uint8_t out[kOtaHeaderSize]) {
    std::memcpy(out, header.bytes, kOtaHeaderSize);
}
