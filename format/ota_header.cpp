#include "format/ota_header.h"

#include <algorithm>
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

bool all_ff(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0xFF; });
}

// The bytes of a NUL-terminated field before its NUL, or all of them.
std::string text_field(const uint8_t* field, size_t size) {
    const void* nul = std::memchr(field, 0, size);
    size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : size;
    return std::string(reinterpret_cast<const char*>(field), length);
}

bool is_flag(uint32_t word) { return word == kOtaFlagSet || word == kOtaFlagClear; }

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

std::string ota_mode_list() {
    std::string list;
    for (size_t i = 0; i < std::size(kModeNames); i++) {
        if (i > 0) list += i + 1 == std::size(kModeNames) ? " or " : ", ";
        list += kModeNames[i].name;
    }
    return list;
}

uint32_t ota_load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void ota_store_le32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

std::string ota_label_of(const uint8_t* raw, size_t size) {
    if (size <= kRawLabelOffset) return "";
    size_t limit = std::min(size - kRawLabelOffset, kOtaMaxLabelLength);
    return text_field(raw + kRawLabelOffset, limit);
}

void ota_header_encode(const OtaHeader& header, uint8_t out[kOtaHeaderSize]) {
    // Every byte no field sets is 0xFF, so a clear flag is the fill itself.
    std::memset(out, 0xFF, kOtaHeaderSize);
    std::memcpy(out + kOtaMagic, kOtaMagicText, kOtaMagicLength);
    size_t label_length = std::min(header.label.size(), kOtaMaxLabelLength);
    std::memcpy(out + kOtaImageLabel, header.label.data(), label_length);
    out[kOtaImageLabel + label_length] = 0;
    if (header.mode == OtaMode::flash_remapping) {
        ota_store_le32(out + kOtaRemapFlag, kOtaFlagSet);
        ota_store_le32(out + kOtaRemapMarker, kOtaRemapMarkerValue);
    }
    ota_store_le32(out + kOtaZeroWord, 0);
    if (header.mode == OtaMode::image_compress) ota_store_le32(out + kOtaCompressFlag, kOtaFlagSet);
    ota_store_le32(out + kOtaPayloadSize, header.payload_size);
    ota_store_le32(out + kOtaPayloadCrc, header.payload_crc);
    ota_store_le32(out + kOtaImageSize, header.image_size);
    ota_store_le32(out + kOtaImageCrc, header.image_crc);
}

OtaStoredHeader ota_header_decode(const uint8_t bytes[kOtaHeaderSize]) {
    OtaStoredHeader h;
    h.magic = text_field(bytes + kOtaMagic, kOtaMagicField);
    h.magic_matches = std::memcmp(bytes + kOtaMagic, kOtaMagicText, kOtaMagicLength) == 0;
    h.magic_filled = all_ff(bytes + kOtaMagic + kOtaMagicLength, kOtaMagicField - kOtaMagicLength);
    h.label = text_field(bytes + kOtaImageLabel, kOtaLabelSize);
    h.label_terminated = h.label.size() < kOtaLabelSize;
    h.label_filled =
        h.label_terminated && all_ff(bytes + kOtaImageLabel + h.label.size() + 1, kOtaLabelSize - h.label.size() - 1);
    h.remap_flag = ota_load_le32(bytes + kOtaRemapFlag);
    h.reserved_44 = ota_load_le32(bytes + kOtaReserved44);
    h.zero_word = ota_load_le32(bytes + kOtaZeroWord);
    h.compress_flag = ota_load_le32(bytes + kOtaCompressFlag);
    h.payload_size = ota_load_le32(bytes + kOtaPayloadSize);
    h.payload_crc = ota_load_le32(bytes + kOtaPayloadCrc);
    h.image_size = ota_load_le32(bytes + kOtaImageSize);
    h.image_crc = ota_load_le32(bytes + kOtaImageCrc);
    h.reserved_60 = ota_load_le32(bytes + kOtaReserved60);
    h.remap_marker = ota_load_le32(bytes + kOtaRemapMarker);
    h.tail_filled = all_ff(bytes + kOtaReservedTail, kOtaHeaderSize - kOtaReservedTail);
    // Only flags that are each set or clear, and not both set, name a mode.
    if (is_flag(h.remap_flag) && is_flag(h.compress_flag) &&
        !(h.remap_flag == kOtaFlagSet && h.compress_flag == kOtaFlagSet)) {
        h.mode = h.compress_flag == kOtaFlagSet ? OtaMode::image_compress
                 : h.remap_flag == kOtaFlagSet  ? OtaMode::flash_remapping
                                                : OtaMode::image_copy;
    }
    return h;
}
