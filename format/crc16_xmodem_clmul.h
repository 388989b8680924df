// The carry-less multiply kernels behind CRC16_XMODEM; x86-64 only.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether the processor runs the kernel; `wide` asks for the 256-bit one.
bool crc16_xmodem_clmul_supported(bool wide);
// Continues `crc` over the data.
uint16_t crc16_xmodem_clmul(uint16_t crc, const uint8_t* data, size_t len, bool wide);
