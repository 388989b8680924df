#include "format/crc16_xmodem.h"

#include <array>

#include "format/crc16_xmodem_clmul.h"
#include "format/crc16_xmodem_pmull.h"

namespace {

constexpr uint16_t kPoly = 0x1021;

uint16_t crc16_xmodem_bitwise(uint16_t crc, const uint8_t* data, size_t len) {
    for (size_t i = 0; i < len; i++) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; bit++) {
            // Subtract the polynomial when the top bit falls out; without a
            // branch, since on real data that branch is a coin toss.
            uint16_t top = static_cast<uint16_t>(-(crc >> 15));
            crc = static_cast<uint16_t>((crc << 1) ^ (top & kPoly));
        }
    }
    return crc;
}

// kTables[k][b]: the checksum of byte b followed by k zero bytes, that is
// b·x^(16 + 8k) mod P. Eight bytes then take eight lookups: the checksum is
// linear, so each byte's share is looked up by how far it stands from the end.
using Tables = std::array<std::array<uint16_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables t{};
    for (unsigned b = 0; b < 256; b++) {
        uint16_t crc = static_cast<uint16_t>(b << 8);
        for (int bit = 0; bit < 8; bit++) crc = static_cast<uint16_t>((crc << 1) ^ ((crc & 0x8000) ? kPoly : 0));
        t[0][b] = crc;
    }
    for (unsigned k = 1; k < 8; k++) {
        for (unsigned b = 0; b < 256; b++) {
            uint16_t prev = t[k - 1][b];
            t[k][b] = static_cast<uint16_t>((prev << 8) ^ t[0][prev >> 8]);
        }
    }
    return t;
}

constexpr Tables kTables = make_tables();

uint16_t crc16_xmodem_portable(uint16_t crc, const uint8_t* data, size_t len) {
    for (; len >= 8; data += 8, len -= 8) {
        // The carried checksum joins the first two bytes.
        crc = static_cast<uint16_t>(kTables[7][data[0] ^ (crc >> 8)] ^ kTables[6][data[1] ^ (crc & 0xFF)] ^
                                    kTables[5][data[2]] ^ kTables[4][data[3]] ^ kTables[3][data[4]] ^
                                    kTables[2][data[5]] ^ kTables[1][data[6]] ^ kTables[0][data[7]]);
    }
    for (; len > 0; data++, len--) crc = static_cast<uint16_t>((crc << 8) ^ kTables[0][(crc >> 8) ^ *data]);
    return crc;
}

}  // namespace

const char* crc16_xmodem_kernel_name(Crc16Kernel kernel) {
    switch (kernel) {
        case Crc16Kernel::bitwise: return "bitwise";
        case Crc16Kernel::portable: return "portable";
        case Crc16Kernel::clmul: return "clmul";
        case Crc16Kernel::clmul_wide: return "clmul_wide";
        case Crc16Kernel::pmull: return "pmull";
    }
    return "";
}

bool crc16_xmodem_kernel_available(Crc16Kernel kernel) {
    switch (kernel) {
        case Crc16Kernel::bitwise:
        case Crc16Kernel::portable: return true;
        case Crc16Kernel::clmul: return crc16_xmodem_clmul_supported(false);
        case Crc16Kernel::clmul_wide: return crc16_xmodem_clmul_supported(true);
        case Crc16Kernel::pmull: return crc16_xmodem_pmull_supported();
    }
    return false;
}

uint16_t crc16_xmodem_with(Crc16Kernel kernel, uint16_t crc, const uint8_t* data, size_t len) {
    switch (kernel) {
        case Crc16Kernel::bitwise: return crc16_xmodem_bitwise(crc, data, len);
        case Crc16Kernel::portable: return crc16_xmodem_portable(crc, data, len);
        case Crc16Kernel::clmul: return crc16_xmodem_clmul(crc, data, len, false);
        case Crc16Kernel::clmul_wide: return crc16_xmodem_clmul(crc, data, len, true);
        case Crc16Kernel::pmull: return crc16_xmodem_pmull(crc, data, len);
    }
    return crc;
}

uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t* data, size_t len) {
    // The fastest the processor runs, in this order.
    static const Crc16Kernel fastest = [] {
        for (Crc16Kernel kernel : {Crc16Kernel::clmul_wide, Crc16Kernel::clmul, Crc16Kernel::pmull}) {
            if (crc16_xmodem_kernel_available(kernel)) return kernel;
        }
        return Crc16Kernel::portable;
    }();
    // Below about 128 bytes (eight blocks, one for each lane) the folding's
    // fixed cost loses to the tables (measured: 31 ns against 35 ns at 128).
    if (len < 128) return crc16_xmodem_portable(crc, data, len);
    return crc16_xmodem_with(fastest, crc, data, len);
}

uint16_t CRC16_XMODEM(const uint8_t* data, size_t len) { return crc16_xmodem_update(0, data, len); }
