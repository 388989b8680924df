// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. Check value: "123456789" gives 0x31C3.
#pragma once

#include <cstddef>
#include <cstdint>

// The checksum of `len` bytes at `data`. Pure: no state, no allocation.
// Uses the carry-less multiply kernel where the processor has one.
uint16_t CRC16_XMODEM(const uint8_t* data, size_t len);

// Continues a checksum: crc16_xmodem_update(CRC16_XMODEM(a), b) equals the
// checksum of a followed by b. Bit by bit, portable; also the reference the
// fast kernel is tested against.
uint16_t crc16_xmodem_update(uint16_t crc, const uint8_t* data, size_t len);

// The carry-less multiply kernel on its own, for tests and benchmarks.
// Call it only when crc16_xmodem_clmul_available() is true.
bool crc16_xmodem_clmul_available();
uint16_t crc16_xmodem_clmul(const uint8_t* data, size_t len);
