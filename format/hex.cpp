#include "format/hex.h"

std::string hex(uint64_t value, int digits, HexCase letters) {
    const char* alphabet = letters == HexCase::upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    for (; value != 0 || static_cast<int>(text.size()) < digits; value >>= 4)
        text.insert(text.begin(), alphabet[value & 0xF]);
    return "0x" + text;
}

std::string hex_bytes(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; i++) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0xF];
    }
    return text;
}
