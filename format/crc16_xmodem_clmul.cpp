// CRC-16/XMODEM by folding with carry-less multiplication (x86-64 PCLMULQDQ).
//
// Read as a polynomial over GF(2), first byte's top bit as the highest term, a
// message M(x) has the checksum M(x)·x^16 mod P(x), P = x^16 + x^12 + x^5 + 1.
// Only M mod P matters, so a 128-bit accumulator A standing for the data so
// far can take in the next block B as A·x^128 + B; splitting A into 64-bit
// halves gives A·x^128 ≡ A_hi·(x^192 mod P) + A_lo·(x^128 mod P), two
// carry-less products that fit back into 128 bits. Eight accumulators over
// interleaved blocks keep the multiplier busy (with VPCLMULQDQ, two to a
// 256-bit register); they are merged with the same step at the end. The final 128-bit accumulator is congruent to the message,
// so the checksum of its 16 bytes is the checksum of the message, and the
// bitwise routine finishes it and the tail. No table: the fold constants
// x^n mod P are computed at compile time from the polynomial.
#include "format/crc16_xmodem_clmul.h"

#include "format/crc16_xmodem.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace {

constexpr uint32_t kPoly = 0x11021;  // P(x) with its x^16 term

// x^n mod P as a 16-bit polynomial.
constexpr uint64_t xpow_mod(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; i++) {
        r <<= 1;
        if (r & 0x10000) r ^= kPoly;
    }
    return r;
}

constexpr unsigned kLanes = 8;
constexpr size_t kBlock = 16;

// Multiplies A by x^distance modulo P, leaving at most 80 bits.
__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i acc, __m128i k) {
    // k holds x^distance mod P in its low half and x^(distance+64) mod P in its high half.
    return _mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11));
}

// Loads 16 message bytes as a polynomial: the first byte becomes the high end.
__attribute__((target("pclmul,ssse3"))) inline __m128i load_block(const uint8_t* p, __m128i reverse) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

// Two consecutive blocks, each reversed within its own 128-bit half.
__attribute__((target("avx2"))) inline __m256i load_pair(const uint8_t* p, __m256i reverse) {
    return _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), reverse);
}

__attribute__((target("ssse3"))) inline __m128i kReverse() {
    return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// Moves a lane past the other seven lanes' blocks: multiplies by x^(128·8).
__attribute__((target("sse2"))) inline __m128i k_stride_constants() {
    return _mm_set_epi64x(xpow_mod(128 * kLanes + 64), xpow_mod(128 * kLanes));
}

// Folds 128-byte stretches into eight 128-bit lanes, two to a 256-bit
// register: VPCLMULQDQ multiplies both halves at once, doubling throughput.
// Returns how many bytes it consumed; `lanes` then stands for them.
__attribute__((target("pclmul,ssse3,avx2,vpclmulqdq"))) size_t fold_lanes_wide(const uint8_t* data, size_t len,
                                                                                  __m128i lanes[kLanes]) {
    const __m256i reverse = _mm256_broadcastsi128_si256(kReverse());
    const __m256i k_stride = _mm256_broadcastsi128_si256(k_stride_constants());
    __m256i acc[kLanes / 2];
    for (unsigned j = 0; j < kLanes / 2; j++) acc[j] = load_pair(data + 32 * j, reverse);
    size_t pos = kLanes * kBlock;
    for (; pos + kLanes * kBlock <= len; pos += kLanes * kBlock) {
        for (unsigned j = 0; j < kLanes / 2; j++) {
            __m256i folded = _mm256_xor_si256(_mm256_clmulepi64_epi128(acc[j], k_stride, 0x00),
                                              _mm256_clmulepi64_epi128(acc[j], k_stride, 0x11));
            acc[j] = _mm256_xor_si256(folded, load_pair(data + pos + 32 * j, reverse));
        }
    }
    for (unsigned j = 0; j < kLanes / 2; j++) {
        lanes[2 * j] = _mm256_castsi256_si128(acc[j]);
        lanes[2 * j + 1] = _mm256_extracti128_si256(acc[j], 1);
    }
    return pos;
}

// The same with 128-bit registers.
__attribute__((target("pclmul,ssse3"))) size_t fold_lanes(const uint8_t* data, size_t len, __m128i lanes[kLanes]) {
    const __m128i reverse = kReverse();
    const __m128i k_stride = k_stride_constants();
    for (unsigned j = 0; j < kLanes; j++) lanes[j] = load_block(data + j * kBlock, reverse);
    size_t pos = kLanes * kBlock;
    for (; pos + kLanes * kBlock <= len; pos += kLanes * kBlock) {
        for (unsigned j = 0; j < kLanes; j++) {
            lanes[j] = _mm_xor_si128(fold(lanes[j], k_stride), load_block(data + pos + j * kBlock, reverse));
        }
    }
    return pos;
}

}  // namespace

bool crc16_xmodem_clmul_supported(bool wide) {
    static const bool narrow_ok = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
    static const bool wide_ok = narrow_ok && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
    return wide ? wide_ok : narrow_ok;
}

__attribute__((target("pclmul,ssse3"))) uint16_t crc16_xmodem_clmul(const uint8_t* data, size_t len, bool wide) {
    if (len < kBlock) return crc16_xmodem_update(0, data, len);

    const __m128i reverse = kReverse();
    const __m128i k_block = _mm_set_epi64x(xpow_mod(128 + 64), xpow_mod(128));

    __m128i acc = load_block(data, reverse);
    size_t pos = kBlock;
    if (len >= kLanes * kBlock) {
        __m128i lanes[kLanes];
        pos = wide ? fold_lanes_wide(data, len, lanes) : fold_lanes(data, len, lanes);
        acc = lanes[0];
        for (unsigned j = 1; j < kLanes; j++) acc = _mm_xor_si128(fold(acc, k_block), lanes[j]);
    }
    for (; pos + kBlock <= len; pos += kBlock) {
        acc = _mm_xor_si128(fold(acc, k_block), load_block(data + pos, reverse));
    }

    alignas(16) uint8_t folded[kBlock];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), _mm_shuffle_epi8(acc, reverse));
    uint16_t crc = crc16_xmodem_update(0, folded, kBlock);
    return crc16_xmodem_update(crc, data + pos, len - pos);
}

#else

bool crc16_xmodem_clmul_supported(bool) { return false; }

uint16_t crc16_xmodem_clmul(const uint8_t* data, size_t len, bool) { return crc16_xmodem_update(0, data, len); }

#endif
