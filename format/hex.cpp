#include "format/hex.h"

std::string hex(uint64_t value, int digits, HexCase letters) {
    const char* alphabet = letters == HexCase::upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    for (; value != 0 || static_cast<int>(text.size()) < digits; value >>= 4) text.insert(text.begin(), alphabet[value & 0xF]);
    return "0x" + text;
}
