// Hexadecimal values as the tools print them: the one place that forms them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class HexCase { lower, upper };

// "0x", then `value` in hexadecimal with at least `digits` digits: hex(512)
// is "0x200", hex(0xA5A55A00, 8, HexCase::upper) is "0xA5A55A00".
std::string hex(uint64_t value, int digits = 1, HexCase letters = HexCase::lower);

// The bytes as lowercase hexadecimal digits, two a byte, with no "0x": a digest.
std::string hex_bytes(const uint8_t* data, size_t size);
