#include "format/crc16_xmodem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"

namespace {


TEST(Crc16Xmodem, PublishedCheckValues) {
    const uint8_t zero = 0x00, one = 0x01;
    for (auto crc : {CRC16_XMODEM, +[](const uint8_t* d, size_t n) { return crc16_xmodem_update(0, d, n); }}) {
        EXPECT_EQ(crc(nullptr, 0), 0x0000);
        EXPECT_EQ(crc(&zero, 1), 0x0000);
        EXPECT_EQ(crc(&one, 1), 0x1021);
        EXPECT_EQ(crc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);
    }
}

TEST(Crc16Xmodem, UpdateContinuesAChecksum) {
    Bytes data = make_image(1000, "");
    for (size_t split : {size_t{0}, size_t{1}, size_t{17}, size_t{500}, size_t{1000}}) {
        uint16_t head = CRC16_XMODEM(data.data(), split);
        EXPECT_EQ(crc16_xmodem_update(head, data.data() + split, data.size() - split), CRC16_XMODEM(data.data(), data.size()))
            << "split at " << split;
    }
}

// The fast kernel must agree with the bitwise reference everywhere: every
// short length, every alignment, and large buffers that use all the lanes.
TEST(Crc16Xmodem, FastKernelMatchesReference) {
    if (!crc16_xmodem_clmul_available()) GTEST_SKIP() << "no carry-less multiply on this processor";
    Bytes data = make_image(4096 + 64, "", 7);
    for (size_t offset = 0; offset < 64; offset++) {
        const uint8_t* p = data.data() + offset;
        uint16_t reference = 0;  // of the first `len` bytes, grown a byte at a time
        for (size_t len = 0; len <= 4096; len++) {
            ASSERT_EQ(crc16_xmodem_clmul(p, len), reference) << "offset " << offset << " length " << len;
            reference = crc16_xmodem_update(reference, p + len, 1);
        }
    }
    for (size_t len : {size_t{1} << 20, (size_t{1} << 22) + 129, size_t{5'000'003}}) {
        Bytes big = make_image(len, "", static_cast<uint32_t>(len));
        EXPECT_EQ(crc16_xmodem_clmul(big.data(), big.size()), crc16_xmodem_update(0, big.data(), big.size())) << len;
        EXPECT_EQ(CRC16_XMODEM(big.data(), big.size()), crc16_xmodem_update(0, big.data(), big.size())) << len;
    }
}

TEST(Crc16Xmodem, FastKernelOnUniformBytes) {
    if (!crc16_xmodem_clmul_available()) GTEST_SKIP() << "no carry-less multiply on this processor";
    for (uint8_t fill : {0x00, 0xFF, 0x80, 0x01}) {
        Bytes data(3000, fill);
        EXPECT_EQ(crc16_xmodem_clmul(data.data(), data.size()), crc16_xmodem_update(0, data.data(), data.size()))
            << int(fill);
    }
}

}  // namespace
