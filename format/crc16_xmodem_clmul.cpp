// CRC-16/XMODEM by folding with carry-less multiplication (x86-64 PCLMULQDQ).
//
// Read as a polynomial over GF(2), first byte's top bit as the highest term, a
// message M(x) has the checksum M(x)·x^16 mod P(x), P = x^16 + x^12 + x^5 + 1.
// Only M mod P matters, so a 128-bit accumulator A standing for the data so
// far can take in the next block B as A·x^128 + B; splitting A into 64-bit
// halves gives A·x^128 ≡ A_hi·(x^192 mod P) + A_lo·(x^128 mod P), two
// carry-less products that fit back into 128 bits. Eight accumulators over
// interleaved blocks keep the multiplier busy (with VPCLMULQDQ, two to a
// 256-bit register); they are merged with the same step at the end.
//
// With an initial value of 0, leading zero bytes do not change the checksum,
// so a message whose length is not a multiple of 16 is read as if padded with
// zeros in front: every block is then whole. A checksum c carried over from
// earlier data adds c·x^(8·len) to the result, which is the same as XORing c
// into the message's first two bytes; the head block takes it there. The last accumulator is reduced
// to the checksum by two more folds and a Barrett reduction. No table: the
// constants x^n mod P and x^64 div P are computed at compile time from P.
#include "format/crc16_xmodem_clmul.h"

#include <cstring>

#include "format/crc16_xmodem.h"
#include "format/crc16_xmodem_fold.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

namespace {

using namespace crc16_fold;

// Multiplies A by x^distance modulo P, leaving at most 80 bits; k holds
// x^distance mod P in its low half and x^(distance+64) mod P in its high half.
__attribute__((target("pclmul,ssse3"))) inline __m128i fold(__m128i acc, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11));
}

__attribute__((target("ssse3"))) inline __m128i reverse_mask() {
    return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// Loads 16 message bytes as a polynomial: the first byte becomes the high end.
__attribute__((target("pclmul,ssse3"))) inline __m128i load_block(const uint8_t* p) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse_mask());
}

// Two consecutive blocks, each reversed within its own 128-bit half.
__attribute__((target("avx2"))) inline __m256i load_pair(const uint8_t* p, __m256i reverse) {
    return _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), reverse);
}

__attribute__((target("sse2"))) inline __m128i block_constants() {
    return _mm_set_epi64x(xpow_mod(128 + 64), xpow_mod(128));
}

// Moves a lane past the other seven lanes' blocks: multiplies by x^(128·8).
__attribute__((target("sse2"))) inline __m128i stride_constants() {
    return _mm_set_epi64x(xpow_mod(128 * kLanes + 64), xpow_mod(128 * kLanes));
}

// The message as blocks 0..count-1: block 0 is `head` (the first bytes,
// zero-padded in front), block i > 0 starts at data + skew + 16·(i - 1).
struct Blocks {
    const uint8_t* data;
    size_t skew;
    size_t count;
    __m128i head;

    const uint8_t* at(size_t i) const { return data + skew + kBlock * (i - 1); }
};

// Folds blocks 0 to 8·n-1 into eight lanes, two to a 256-bit register:
// VPCLMULQDQ multiplies both halves at once. Returns how many blocks it took.
__attribute__((target("pclmul,ssse3,avx2,vpclmulqdq"))) size_t fold_lanes_wide(const Blocks& b, __m128i lanes[kLanes]) {
    const __m256i reverse = _mm256_broadcastsi128_si256(reverse_mask());
    const __m256i k_stride = _mm256_broadcastsi128_si256(stride_constants());
    __m256i acc[kLanes / 2];
    acc[0] = _mm256_inserti128_si256(_mm256_castsi128_si256(b.head), load_block(b.at(1)), 1);
    for (unsigned j = 1; j < kLanes / 2; j++) acc[j] = load_pair(b.at(2 * j), reverse);
    size_t i = kLanes;
    for (; i + kLanes <= b.count; i += kLanes) {
        for (unsigned j = 0; j < kLanes / 2; j++) {
            __m256i folded = _mm256_xor_si256(_mm256_clmulepi64_epi128(acc[j], k_stride, 0x00),
                                              _mm256_clmulepi64_epi128(acc[j], k_stride, 0x11));
            acc[j] = _mm256_xor_si256(folded, load_pair(b.at(i + 2 * j), reverse));
        }
    }
    for (unsigned j = 0; j < kLanes / 2; j++) {
        lanes[2 * j] = _mm256_castsi256_si128(acc[j]);
        lanes[2 * j + 1] = _mm256_extracti128_si256(acc[j], 1);
    }
    return i;
}

// The same with 128-bit registers.
__attribute__((target("pclmul,ssse3"))) size_t fold_lanes(const Blocks& b, __m128i lanes[kLanes]) {
    const __m128i k_stride = stride_constants();
    lanes[0] = b.head;
    for (unsigned j = 1; j < kLanes; j++) lanes[j] = load_block(b.at(j));
    size_t i = kLanes;
    for (; i + kLanes <= b.count; i += kLanes) {
        for (unsigned j = 0; j < kLanes; j++)
            lanes[j] = _mm_xor_si128(fold(lanes[j], k_stride), load_block(b.at(i + j)));
    }
    return i;
}

// The checksum of the 128-bit polynomial A: A·x^16 mod P.
__attribute__((target("pclmul,sse4.1"))) uint16_t reduce(__m128i a) {
    const __m128i k = _mm_set_epi64x(xpow_mod(64), xpow_mod(80));
    const __m128i barrett = _mm_set_epi64x(kPoly, x64_div_p());
    // A·x^16 = A_hi·x^80 + A_lo·x^16 ≡ A_hi·(x^80 mod P) + A_lo·x^16: 80 bits.
    __m128i t = _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x01), _mm_slli_si128(_mm_move_epi64(a), 2));
    // Its top 16 bits times (x^64 mod P), added to the low 64 bits: 64 bits, U.
    __m128i u = _mm_xor_si128(_mm_clmulepi64_si128(t, k, 0x11), _mm_move_epi64(t));
    // Barrett: the quotient U div P is ((U div x^16)·(x^64 div P)) div x^48;
    // U minus quotient·P is the remainder.
    __m128i q = _mm_srli_si128(_mm_clmulepi64_si128(_mm_srli_epi64(u, 16), barrett, 0x00), 6);
    __m128i r = _mm_xor_si128(u, _mm_clmulepi64_si128(q, barrett, 0x10));
    return static_cast<uint16_t>(_mm_cvtsi128_si32(r));
}

}  // namespace

bool crc16_xmodem_clmul_supported(bool wide) {
    static const bool narrow_ok =
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
    static const bool wide_ok = narrow_ok && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
    return wide ? wide_ok : narrow_ok;
}

__attribute__((target("pclmul,ssse3,sse4.1"))) uint16_t crc16_xmodem_clmul(uint16_t crc, const uint8_t* data,
                                                                           size_t len, bool wide) {
    // The carried checksum needs both of its bytes in the head block: a head
    // of one byte goes through the portable kernel first.
    if (len % kBlock == 1) {
        crc = crc16_xmodem_with(Crc16Kernel::portable, crc, data, 1);
        data++;
        len--;
    }
    if (len == 0) return crc;
    Blocks b;
    b.data = data;
    b.count = (len + kBlock - 1) / kBlock;
    b.skew = len - kBlock * (b.count - 1);  // bytes in block 0, 1 to 16
    alignas(16) uint8_t head[kBlock] = {};
    std::memcpy(head + kBlock - b.skew, data, b.skew);
    head[kBlock - b.skew] ^= static_cast<uint8_t>(crc >> 8);
    head[kBlock - b.skew + 1] ^= static_cast<uint8_t>(crc);
    b.head = load_block(head);

    __m128i acc = b.head;
    size_t i = 1;
    if (b.count >= kLanes) {
        __m128i lanes[kLanes];
        i = wide ? fold_lanes_wide(b, lanes) : fold_lanes(b, lanes);
        acc = lanes[0];
        for (unsigned j = 1; j < kLanes; j++) acc = _mm_xor_si128(fold(acc, block_constants()), lanes[j]);
    }
    for (; i < b.count; i++) acc = _mm_xor_si128(fold(acc, block_constants()), load_block(b.at(i)));
    return reduce(acc);
}

#else

// Not x86-64, or no GCC or clang intrinsics: no kernel here.
bool crc16_xmodem_clmul_supported(bool) { return false; }

uint16_t crc16_xmodem_clmul(uint16_t crc, const uint8_t* data, size_t len, bool) {
    return crc16_xmodem_with(Crc16Kernel::portable, crc, data, len);
}

#endif
