#include "format/crc16_xmodem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "test_support.h"

namespace {

const char* kernel_name(Crc16Kernel kernel) { return crc16_xmodem_kernel_name(kernel); }

TEST(Crc16Xmodem, PublishedCheckValues) {
    const uint8_t zero = 0x00, one = 0x01;
    const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(CRC16_XMODEM(nullptr, 0), 0x0000);
    EXPECT_EQ(CRC16_XMODEM(&zero, 1), 0x0000);
    EXPECT_EQ(CRC16_XMODEM(&one, 1), 0x1021);
    EXPECT_EQ(CRC16_XMODEM(digits, 9), 0x31C3);
    for (Crc16Kernel kernel : kCrc16Kernels) {
        if (!crc16_xmodem_kernel_available(kernel)) continue;
        EXPECT_EQ(crc16_xmodem_with(kernel, 0, digits, 9), 0x31C3) << kernel_name(kernel);
        EXPECT_EQ(crc16_xmodem_with(kernel, 0, &one, 1), 0x1021) << kernel_name(kernel);
    }
}

uint16_t reference(uint16_t crc, const uint8_t* data, size_t len) {
    return crc16_xmodem_with(Crc16Kernel::bitwise, crc, data, len);
}

// A checksum taken a chunk at a time, by every kernel and by the dispatcher,
// equals the bitwise checksum of the whole, whatever the chunk boundaries.
TEST(Crc16Xmodem, ContinuesAcrossChunks) {
    Bytes data = make_image((size_t{1} << 20) + 77, "", 3);
    const uint16_t whole = reference(0, data.data(), data.size());
    for (size_t chunk : {size_t{1}, size_t{2}, size_t{15}, size_t{16}, size_t{17}, size_t{33}, size_t{4095},
                         size_t{65536 + 3}, size_t{262144}}) {
        uint16_t by_update = 0;
        uint16_t by_kernel[std::size(kCrc16Kernels)] = {};
        for (size_t at = 0; at < data.size(); at += chunk) {
            size_t n = std::min(chunk, data.size() - at);
            by_update = crc16_xmodem_update(by_update, data.data() + at, n);
            for (Crc16Kernel kernel : kCrc16Kernels) {
                if (!crc16_xmodem_kernel_available(kernel)) continue;
                auto& crc = by_kernel[static_cast<int>(kernel)];
                crc = crc16_xmodem_with(kernel, crc, data.data() + at, n);
            }
        }
        EXPECT_EQ(by_update, whole) << "chunks of " << chunk;
        for (Crc16Kernel kernel : kCrc16Kernels) {
            if (!crc16_xmodem_kernel_available(kernel)) continue;
            EXPECT_EQ(by_kernel[static_cast<int>(kernel)], whole) << kernel_name(kernel) << ", chunks of " << chunk;
        }
    }
}

// Every other kernel the build has and the processor runs must agree with the
// bitwise reference everywhere: every short
// length, every alignment, carried checksums, uniform bytes, and large buffers
// that use all lanes.
TEST(Crc16Xmodem, KernelsMatchTheReference) {
    Bytes data = make_image(4096 + 64, "", 7);
    std::vector<Bytes> big;
    for (size_t len : {size_t{1} << 20, (size_t{1} << 22) + 129, size_t{5'000'003}}) {
        big.push_back(make_image(len, "", static_cast<uint32_t>(len)));
    }
    for (uint8_t fill : {0x00, 0xFF, 0x80, 0x01}) big.push_back(Bytes(3000, fill));

    for (Crc16Kernel kernel : kCrc16Kernels) {
        if (kernel == Crc16Kernel::bitwise || !crc16_xmodem_kernel_available(kernel)) continue;
        for (size_t offset = 0; offset < 64; offset++) {
            const uint8_t* p = data.data() + offset;
            // Offset 0 starts from 0, the others from a carried checksum.
            const uint16_t start = static_cast<uint16_t>(offset * 0x9E37);
            uint16_t expected = start;  // over the first `len` bytes, grown a byte at a time
            for (size_t len = 0; len <= 4096; len++) {
                ASSERT_EQ(crc16_xmodem_with(kernel, start, p, len), expected)
                    << kernel_name(kernel) << " offset " << offset << " length " << len;
                expected = reference(expected, p + len, 1);
            }
        }
        for (const Bytes& b : big) {
            for (uint16_t start : {uint16_t{0}, uint16_t{0xFFFF}}) {
                EXPECT_EQ(crc16_xmodem_with(kernel, start, b.data(), b.size()), reference(start, b.data(), b.size()))
                    << kernel_name(kernel) << " length " << b.size();
            }
        }
    }
}

}  // namespace
