// CRC-16/XMODEM by folding with carry-less multiplication on AArch64 (PMULL,
// the Crypto extension). The same folding as the x86-64 kernel
// (crc16_xmodem_clmul.cpp, which explains it): eight 128-bit accumulators over
// interleaved blocks, merged at the end, two more folds and a Barrett
// reduction. vmull_p64 multiplies the low halves, vmull_high_p64 the high ones.
#include "format/crc16_xmodem_pmull.h"

#include <cstring>

#include "format/crc16_xmodem.h"
#include "format/crc16_xmodem_fold.h"

#if defined(__aarch64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))

#include <arm_neon.h>
// The one platform call in format/: which instructions the CPU has, as Linux
// tells it. GCC before 14 has no __builtin_cpu_supports on AArch64.
#include <sys/auxv.h>

#ifndef HWCAP_PMULL
#define HWCAP_PMULL (1 << 4)
#endif

namespace {

using crc16_fold::kBlock;
using crc16_fold::kLanes;

#define OTA_PMULL __attribute__((target("+crypto")))

OTA_PMULL inline uint64x2_t pair(uint64_t low, uint64_t high) {
    return vcombine_u64(vcreate_u64(low), vcreate_u64(high));
}

// A·x^distance mod P, as in the x86-64 kernel: k holds x^distance mod P low
// and x^(distance+64) mod P high.
OTA_PMULL inline uint64x2_t fold(uint64x2_t acc, uint64x2_t k) {
    poly128_t low = vmull_p64(vgetq_lane_u64(acc, 0), vgetq_lane_u64(k, 0));
    poly128_t high = vmull_high_p64(vreinterpretq_p64_u64(acc), vreinterpretq_p64_u64(k));
    return veorq_u64(vreinterpretq_u64_p128(low), vreinterpretq_u64_p128(high));
}

// 16 message bytes as a polynomial: the first byte becomes the high end.
OTA_PMULL inline uint64x2_t load_block(const uint8_t* p) {
    uint8x16_t bytes = vrev64q_u8(vld1q_u8(p));
    return vreinterpretq_u64_u8(vextq_u8(bytes, bytes, 8));
}

OTA_PMULL inline uint64x2_t mul_low(uint64_t a, uint64_t b) { return vreinterpretq_u64_p128(vmull_p64(a, b)); }

// The checksum of the 128-bit polynomial A: A·x^16 mod P.
OTA_PMULL uint16_t reduce(uint64x2_t a) {
    using namespace crc16_fold;
    const uint64_t a_lo = vgetq_lane_u64(a, 0), a_hi = vgetq_lane_u64(a, 1);
    // A·x^16 ≡ A_hi·(x^80 mod P) + A_lo·x^16: 80 bits, T.
    uint64x2_t t = veorq_u64(mul_low(a_hi, xpow_mod(80)), pair(a_lo << 16, a_lo >> 48));
    // Its top 16 bits times (x^64 mod P), added to the low 64 bits: 64 bits, U.
    uint64_t u = vgetq_lane_u64(mul_low(vgetq_lane_u64(t, 1), xpow_mod(64)), 0) ^ vgetq_lane_u64(t, 0);
    // Barrett: the quotient is ((U div x^16)·(x^64 div P)) div x^48.
    uint64x2_t product = mul_low(u >> 16, x64_div_p());
    uint64_t q = vgetq_lane_u64(product, 0) >> 48 | vgetq_lane_u64(product, 1) << 16;
    return static_cast<uint16_t>(u ^ vgetq_lane_u64(mul_low(q, kPoly), 0));
}

}  // namespace

bool crc16_xmodem_pmull_supported() {
    static const bool ok = (getauxval(AT_HWCAP) & HWCAP_PMULL) != 0;
    return ok;
}

OTA_PMULL uint16_t crc16_xmodem_pmull(uint16_t crc, const uint8_t* data, size_t len) {
    using namespace crc16_fold;
    if (len % kBlock == 1) {  // the carried checksum needs two bytes of the head block
        crc = crc16_xmodem_with(Crc16Kernel::portable, crc, data, 1);
        data++;
        len--;
    }
    if (len == 0) return crc;
    const size_t count = (len + kBlock - 1) / kBlock;
    const size_t skew = len - kBlock * (count - 1);  // bytes in block 0, 1 to 16
    auto at = [&](size_t i) { return data + skew + kBlock * (i - 1); };
    alignas(16) uint8_t head[kBlock] = {};
    std::memcpy(head + kBlock - skew, data, skew);
    head[kBlock - skew] ^= static_cast<uint8_t>(crc >> 8);
    head[kBlock - skew + 1] ^= static_cast<uint8_t>(crc);

    const uint64x2_t k_block = pair(xpow_mod(128), xpow_mod(128 + 64));
    uint64x2_t acc = load_block(head);
    size_t i = 1;
    if (count >= kLanes) {
        const uint64x2_t k_stride = pair(xpow_mod(128 * kLanes), xpow_mod(128 * kLanes + 64));
        uint64x2_t lanes[kLanes];
        lanes[0] = acc;
        for (unsigned j = 1; j < kLanes; j++) lanes[j] = load_block(at(j));
        for (i = kLanes; i + kLanes <= count; i += kLanes) {
            for (unsigned j = 0; j < kLanes; j++) lanes[j] = veorq_u64(fold(lanes[j], k_stride), load_block(at(i + j)));
        }
        acc = lanes[0];
        for (unsigned j = 1; j < kLanes; j++) acc = veorq_u64(fold(acc, k_block), lanes[j]);
    }
    for (; i < count; i++) acc = veorq_u64(fold(acc, k_block), load_block(at(i)));
    return reduce(acc);
}

#else

bool crc16_xmodem_pmull_supported() { return false; }

uint16_t crc16_xmodem_pmull(uint16_t crc, const uint8_t* data, size_t len) {
    return crc16_xmodem_with(Crc16Kernel::portable, crc, data, len);
}

#endif
