// The 128-byte OTA header that starts every OTA file, followed directly by the
// payload. All words are 32-bit little-endian; every byte no field sets is
// 0xFF. Flag words read 0 when set and 0xFFFFFFFF when clear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The packing modes: how the payload was made from the raw image.
enum class OtaMode { image_copy, image_compress, flash_remapping };
inline constexpr OtaMode kOtaModes[] = {OtaMode::image_copy, OtaMode::image_compress, OtaMode::flash_remapping};

// The mode's keyword, as on the command line and in reports.
const char* ota_mode_name(OtaMode mode);
// The mode a keyword names, if any; keywords are matched exactly.
std::optional<OtaMode> ota_mode_named(std::string_view keyword);

constexpr size_t kOtaHeaderSize = 128;

// Field offsets.
constexpr size_t kOtaMagic = 0x00;         // 32 bytes: the magic text, NUL, 0xFF fill
constexpr size_t kOtaImageLabel = 0x20;    // 32 bytes: NUL-terminated label, 0xFF fill
constexpr size_t kOtaRemapFlag = 0x40;     // 0 in flash_remapping mode
constexpr size_t kOtaReserved44 = 0x44;    // always 0xFFFFFFFF
constexpr size_t kOtaZeroWord = 0x48;      // always 0
constexpr size_t kOtaCompressFlag = 0x4C;  // 0 in image_compress mode
constexpr size_t kOtaPayloadSize = 0x50;
constexpr size_t kOtaPayloadCrc = 0x54;    // CRC-16 zero-extended to a word
constexpr size_t kOtaImageSize = 0x58;
constexpr size_t kOtaImageCrc = 0x5C;
constexpr size_t kOtaReserved60 = 0x60;    // always 0xFFFFFFFF
constexpr size_t kOtaRemapMarker = 0x64;   // kOtaRemapMarkerValue in flash_remapping mode
constexpr size_t kOtaReservedTail = 0x68;  // 24 bytes of 0xFF to the end

constexpr size_t kOtaLabelSize = 32;
constexpr char kOtaMagicText[] = "WIFI K7Q3 R2T9";  // written with its NUL
constexpr size_t kOtaMagicLength = sizeof kOtaMagicText;  // 15, NUL included
constexpr uint32_t kOtaFlagSet = 0x00000000;
constexpr uint32_t kOtaFlagClear = 0xFFFFFFFF;
constexpr uint32_t kOtaRemapMarkerValue = 0xA5A55A00;

// Where the label sits in the raw image.
constexpr size_t kRawLabelOffset = 0x100;

// The header as the exact bytes it is written as.
struct OtaHeader {
    uint8_t bytes[kOtaHeaderSize];
};

uint32_t ota_load_le32(const uint8_t* p);
void ota_store_le32(uint8_t* p, uint32_t value);

// The steps of a packing run, in the order it takes them.
void ota_header_start(OtaHeader& header, OtaMode mode);  // 0xFF fill and the mode's flags
void ota_header_stamp(OtaHeader& header);                 // zero_word and magic
void ota_header_set_image_size(OtaHeader& header, uint32_t size);  // image and payload size
void ota_header_set_image_crc(OtaHeader& header, uint16_t crc);    // image and payload CRC
void ota_header_set_label(OtaHeader& header, const uint8_t* raw, size_t raw_size);
void ota_header_set_payload_size(OtaHeader& header, uint32_t size);
void ota_header_set_payload_crc(OtaHeader& header, uint16_t crc);
void ota_header_serialise(const OtaHeader& header, uint8_t out[kOtaHeaderSize]);

// A word of the header by its offset.
uint32_t ota_header_word(const OtaHeader& header, size_t offset);
