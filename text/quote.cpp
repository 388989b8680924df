#include "text/quote.h"

#include <cstdio>

std::string printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

std::string single_quoted(const std::string& arg) {
    // Appended rather than "'" + ...: GCC 12 warns falsely (-Wrestrict) on that form.
    std::string text = "'";
    text += printable(arg);
    text += '\'';
    return text;
}
