#include "format/crc16_xmodem.h"

#include "format/crc16_xmodem_clmul.h"

namespace {

uint16_t crc16_xmodem_bitwise(uint16_t crc, const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; i++) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; bit++) {
            // Subtract the polynomial when the top bit falls out; without a
            // branch, since on real data that branch is a coin toss.
            uint16_t top = static_cast<uint16_t>(-(crc >> 15));
            crc = static_cast<uint16_t>((crc << 1) ^ (top & 0x1021));
        }
    }
    return crc;
}

}  // namespace

bool crc16_xmodem_kernel_available(Crc16Kernel kernel) {
    switch (kernel) {
        case Crc16Kernel::bitwise: return true;
        case Crc16Kernel::clmul: return crc16_xmodem_clmul_supported(false);
        case Crc16Kernel::clmul_wide: return crc16_xmodem_clmul_supported(true);
    }
    return false;
}

uint16_t crc16_xmodem_with(Crc16Kernel kernel, uint16_t crc, const uint8_t* data, size_t len) {
    if (kernel == Crc16Kernel::bitwise) return crc16_xmodem_bitwise(crc, data, len);
    return crc16_xmodem_clmul(crc, data, len, kernel == Crc16Kernel::clmul_wide);
}

uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t* data, size_t len) {
    static const Crc16Kernel fastest = crc16_xmodem_kernel_available(Crc16Kernel::clmul_wide) ? Crc16Kernel::clmul_wide
                                       : crc16_xmodem_kernel_available(Crc16Kernel::clmul)    ? Crc16Kernel::clmul
                                                                                              : Crc16Kernel::bitwise;
    if (len < 4) return crc16_xmodem_bitwise(crc, data, len);  // below this the kernels' fixed cost loses
    return crc16_xmodem_with(fastest, crc, data, len);
}

uint16_t CRC16_XMODEM(const uint8_t* data, size_t len) { return crc16_xmodem_update(0, data, len); }
