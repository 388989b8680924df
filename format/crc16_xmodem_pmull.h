// The carry-less multiply kernel behind CRC16_XMODEM on AArch64 (PMULL).
#pragma once

#include <cstddef>
#include <cstdint>

// Whether the processor runs the kernel.
bool crc16_xmodem_pmull_supported();
// Continues `crc` over the data.
uint16_t crc16_xmodem_pmull(uint16_t crc, const uint8_t* data, size_t len);
