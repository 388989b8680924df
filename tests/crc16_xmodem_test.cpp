#include "format/crc16_xmodem.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const Crc16Kernel kKernels[] = {Crc16Kernel::bitwise, Crc16Kernel::clmul, Crc16Kernel::clmul_wide};

const char* kernel_name(Crc16Kernel kernel) {
    switch (kernel) {
        case Crc16Kernel::bitwise: return "bitwise";
        case Crc16Kernel::clmul: return "clmul";
        case Crc16Kernel::clmul_wide: return "clmul_wide";
    }
    return "?";
}

TEST(Crc16Xmodem, PublishedCheckValues) {
    const uint8_t zero = 0x00, one = 0x01;
    const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(CRC16_XMODEM(nullptr, 0), 0x0000);
    EXPECT_EQ(CRC16_XMODEM(&zero, 1), 0x0000);
    EXPECT_EQ(CRC16_XMODEM(&one, 1), 0x1021);
    EXPECT_EQ(CRC16_XMODEM(digits, 9), 0x31C3);
    for (Crc16Kernel kernel : kKernels) {
        if (!crc16_xmodem_kernel_available(kernel)) continue;
        EXPECT_EQ(crc16_xmodem_with(kernel, digits, 9), 0x31C3) << kernel_name(kernel);
        EXPECT_EQ(crc16_xmodem_with(kernel, &one, 1), 0x1021) << kernel_name(kernel);
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

// Every fast kernel must agree with the bitwise reference everywhere: every short
// length, every alignment, uniform bytes, and large buffers that use all lanes.
TEST(Crc16Xmodem, KernelsMatchTheReference) {
    Bytes data = make_image(4096 + 64, "", 7);
    std::vector<Bytes> big;
    for (size_t len : {size_t{1} << 20, (size_t{1} << 22) + 129, size_t{5'000'003}}) {
        big.push_back(make_image(len, "", static_cast<uint32_t>(len)));
    }
    for (uint8_t fill : {0x00, 0xFF, 0x80, 0x01}) big.push_back(Bytes(3000, fill));

    int tested = 0;
    for (Crc16Kernel kernel : {Crc16Kernel::clmul, Crc16Kernel::clmul_wide}) {
        if (!crc16_xmodem_kernel_available(kernel)) continue;
        tested++;
        for (size_t offset = 0; offset < 64; offset++) {
            const uint8_t* p = data.data() + offset;
            uint16_t reference = 0;  // of the first `len` bytes, grown a byte at a time
            for (size_t len = 0; len <= 4096; len++) {
                ASSERT_EQ(crc16_xmodem_with(kernel, p, len), reference)
                    << kernel_name(kernel) << " offset " << offset << " length " << len;
                reference = crc16_xmodem_update(reference, p + len, 1);
            }
        }
        for (const Bytes& b : big) {
            EXPECT_EQ(crc16_xmodem_with(kernel, b.data(), b.size()), crc16_xmodem_update(0, b.data(), b.size()))
                << kernel_name(kernel) << " length " << b.size();
        }
    }
    if (tested == 0) GTEST_SKIP() << "only the bitwise kernel runs on this processor";
}

}  // namespace
