// The library's own calls that no tool makes: the header encoded and decoded
// through the public API, and its CRC-16, against the values the format
// fixes.
#include <gtest/gtest.h>

#include <image_gen_header/ota.h>

#include <cstring>

namespace {

TEST(Library, HeadersRoundTripAndForeignBytesAreRefused) {
    for (ota::Mode mode : {ota::Mode::image_copy, ota::Mode::image_compress, ota::Mode::flash_remapping}) {
        const ota::Header header{mode, "lib v1", 4096, 0x219f, 564, 0x1c37};
        const std::array<uint8_t, ota::kHeaderSize> bytes = ota::encode_header(header);
        EXPECT_EQ(std::memcmp(bytes.data(), "WIFI K7Q3 R2T9", 15), 0);
        ota::Header back;
        std::string error;
        ASSERT_TRUE(ota::decode_header(bytes.data(), back, error)) << error;
        EXPECT_EQ(back.mode, mode);
        EXPECT_EQ(ota::mode_named(ota::mode_name(mode)), mode);
        EXPECT_EQ(std::tie(back.label, back.image_size, back.image_crc, back.payload_size, back.payload_crc),
                  std::tie(header.label, header.image_size, header.image_crc, header.payload_size, header.payload_crc));
    }
    std::array<uint8_t, ota::kHeaderSize> foreign = ota::encode_header({});
    foreign[0] = 'X';
    ota::Header ignored;
    std::string error;
    EXPECT_FALSE(ota::decode_header(foreign.data(), ignored, error));
    EXPECT_EQ(error, "bad magic \"XIFI K7Q3 R2T9\"");
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(ota::crc16_xmodem(check, sizeof check), 0x31C3);  // the standard's check value
}

}  // namespace
