// The constants of CRC-16/XMODEM folding by carry-less multiplication, shared
// by the x86-64 and AArch64 kernels, computed at compile time from P.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crc16_fold {

constexpr uint32_t kPoly = 0x11021;  // P(x) with its x^16 term
constexpr unsigned kLanes = 8;       // accumulators over interleaved blocks
constexpr size_t kBlock = 16;        // bytes a block

// x^n mod P.
constexpr uint64_t xpow_mod(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; i++) {
        r <<= 1;
        if (r & 0x10000) r ^= kPoly;
    }
    return r;
}

// The quotient of x^64 by P, for the Barrett reduction: 49 bits. The first
// step takes the x^64 term; the rest of the division fits in 64 bits.
constexpr uint64_t x64_div_p() {
    uint64_t quotient = uint64_t{1} << 48;
    uint64_t rest = uint64_t{kPoly & 0xFFFF} << 48;
    for (int degree = 63; degree >= 16; degree--) {
        if ((rest >> degree) & 1) {
            quotient |= uint64_t{1} << (degree - 16);
            rest ^= uint64_t{kPoly} << (degree - 16);
        }
    }
    return quotient;
}

}  // namespace crc16_fold
