// The 128-byte OTA header that starts every OTA file, followed directly by the
// payload. All words are 32-bit little-endian; every byte no field sets is
// 0xFF. Flag words read 0 when set and 0xFFFFFFFF when clear.
//
// The header is a plain record of its fields (OtaHeader). The packer fills it
// as it learns each value and encodes it once; a reader decodes the 128 bytes
// and checks what they hold. The layout is known here only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The packing modes: how the payload was made from the raw image.
enum class OtaMode { image_copy, image_compress, flash_remapping };
inline constexpr OtaMode kOtaModes[] = {OtaMode::image_copy, OtaMode::image_compress, OtaMode::flash_remapping};

// The mode's keyword, as on the command line and in reports.
const char* ota_mode_name(OtaMode mode);
// The mode a keyword names, if any; keywords are matched exactly.
std::optional<OtaMode> ota_mode_named(std::string_view keyword);
// "image_copy, image_compress or flash_remapping", for messages.
std::string ota_mode_list();

constexpr size_t kOtaHeaderSize = 128;

// Field offsets.
constexpr size_t kOtaMagic = 0x00;         // 32 bytes: the magic text, NUL, 0xFF fill
constexpr size_t kOtaImageLabel = 0x20;    // 32 bytes: NUL-terminated label, 0xFF fill
constexpr size_t kOtaRemapFlag = 0x40;     // 0 in flash_remapping mode
constexpr size_t kOtaReserved44 = 0x44;    // always 0xFFFFFFFF
constexpr size_t kOtaZeroWord = 0x48;      // always 0
constexpr size_t kOtaCompressFlag = 0x4C;  // 0 in image_compress mode
constexpr size_t kOtaPayloadSize = 0x50;
constexpr size_t kOtaPayloadCrc = 0x54;  // CRC-16 zero-extended to a word
constexpr size_t kOtaImageSize = 0x58;
constexpr size_t kOtaImageCrc = 0x5C;
constexpr size_t kOtaReserved60 = 0x60;    // always 0xFFFFFFFF
constexpr size_t kOtaRemapMarker = 0x64;   // kOtaRemapMarkerValue in flash_remapping mode
constexpr size_t kOtaReservedTail = 0x68;  // 24 bytes of 0xFF to the end

constexpr size_t kOtaMagicField = 32;
constexpr size_t kOtaLabelSize = 32;
constexpr size_t kOtaMaxLabelLength = kOtaLabelSize - 1;  // and its NUL
constexpr char kOtaMagicText[] = "WIFI K7Q3 R2T9";        // written with its NUL
constexpr size_t kOtaMagicLength = sizeof kOtaMagicText;  // 15, NUL included
constexpr uint32_t kOtaFlagSet = 0x00000000;
constexpr uint32_t kOtaFlagClear = 0xFFFFFFFF;
constexpr uint32_t kOtaReservedWord = 0xFFFFFFFF;
constexpr uint32_t kOtaRemapMarkerValue = 0xA5A55A00;

// Where the label sits in the raw image.
constexpr size_t kRawLabelOffset = 0x100;

// The fields a packing run fills.
struct OtaHeader {
    OtaMode mode = OtaMode::image_copy;
    std::string label;  // at most kOtaMaxLabelLength bytes, no NUL
    uint32_t image_size = 0;
    uint16_t image_crc = 0;
    uint32_t payload_size = 0;
    uint16_t payload_crc = 0;
};

// The label of a raw image whose first `size` bytes are at `raw`: the string
// at offset 0x100 up to its NUL. An image with no bytes there has an empty
// label; one with no NUL within 31 bytes, or before the image ends, is cut.
std::string ota_label_of(const uint8_t* raw, size_t size);

// The 128 bytes of the header, byte by byte, the same on every host.
void ota_header_encode(const OtaHeader& header, uint8_t out[kOtaHeaderSize]);

// What 128 stored bytes hold, for a reader to check: the fields, and the raw
// words and fills that a well-formed header has fixed.
struct OtaStoredHeader {
    std::optional<OtaMode> mode;  // none when the flags name no mode
    std::string magic;            // the bytes before the magic's NUL (or all 32)
    bool magic_matches = false;   // the 14 characters and their NUL
    bool magic_filled = false;    // 0xFF after them to the field's end
    std::string label;            // the bytes before the label's NUL (or all 32)
    bool label_terminated = false;
    bool label_filled = false;  // 0xFF after the NUL to the field's end
    uint32_t remap_flag = 0, compress_flag = 0, remap_marker = 0, zero_word = 0;
    uint32_t reserved_44 = 0, reserved_60 = 0;
    bool tail_filled = false;  // 0xFF from 0x68 to the end
    // Whole words: a checksum word with bits above 16 is a fault the reader names.
    uint32_t payload_size = 0, payload_crc = 0, image_size = 0, image_crc = 0;
};

OtaStoredHeader ota_header_decode(const uint8_t bytes[kOtaHeaderSize]);

uint32_t ota_load_le32(const uint8_t* p);
void ota_store_le32(uint8_t* p, uint32_t value);
