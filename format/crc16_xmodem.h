// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. Check value: "123456789" gives 0x31C3.
#pragma once

#include <cstddef>
#include <cstdint>

// The checksum of `len` bytes at `data`. Pure: no state, no allocation.
// Uses a carry-less multiply kernel where the processor has one, else the
// portable table-driven one.
uint16_t CRC16_XMODEM(const uint8_t* data, size_t len);

// Continues a checksum, so that data can be checksummed a chunk at a time:
// crc16_xmodem_update(CRC16_XMODEM(a), b) equals the checksum of a then b.
uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t* data, size_t len);

// The implementations CRC16_XMODEM chooses from, each on its own for tests
// and benchmarks. All give the same value for every input.
enum class Crc16Kernel {
    bitwise,     // bit by bit: the reference for the others
    portable,    // eight bytes at a time through tables (slice-by-8): any CPU
    clmul,       // 128-bit carry-less multiply folding (x86-64 PCLMULQDQ)
    clmul_wide,  // the same two blocks at a time (VPCLMULQDQ with AVX2)
    pmull,       // the same folding with AArch64's PMULL
};
inline constexpr Crc16Kernel kCrc16Kernels[] = {Crc16Kernel::bitwise, Crc16Kernel::portable, Crc16Kernel::clmul,
                                                Crc16Kernel::clmul_wide, Crc16Kernel::pmull};
const char* crc16_xmodem_kernel_name(Crc16Kernel kernel);
// Whether this build has the kernel and the processor runs it.
bool crc16_xmodem_kernel_available(Crc16Kernel kernel);
// Continues `crc` over the data with the given kernel; call only with an
// available one.
uint16_t crc16_xmodem_with(Crc16Kernel kernel, uint16_t crc, const uint8_t* data, size_t len);
