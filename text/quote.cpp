#include "text/quote.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the UTF-8 sequence at `at` and its code point, or 0 when the
// bytes there are not UTF-8 (overlong forms and surrogates included).
size_t utf8_at(const std::string& s, size_t at, uint32_t& code) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(at);
    size_t length = lead < 0x80             ? 1
                    : (lead & 0xE0) == 0xC0 ? 2
                    : (lead & 0xF0) == 0xE0 ? 3
                    : (lead & 0xF8) == 0xF0 ? 4
                                            : 0;
    if (length == 0 || at + length > s.size()) return 0;
    code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; i++) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

// Characters a terminal or log would act on rather than show: C0, DEL, C1,
// the line and paragraph separators that split a log's line where a reader
// splits on them, and the bidirectional marks and overrides that reorder
// what follows.
bool is_control(uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
           code == 0x2028 || code == 0x2029 || (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// On Windows the backslash separates a path's parts, and no POSIX shell
// reads the names: there it shows as typed.
#ifdef _WIN32
constexpr bool kBackslashSeparates = true;
#else
constexpr bool kBackslashSeparates = false;
#endif

// A name shows as typed only when it could not be taken for another name's
// quoted form: it holds no control character and none of the characters the
// quoting writes (a quote, '$', a backslash).
bool safe_as_typed(const std::string& name) {
    uint32_t code;
    for (size_t at = 0, length; at < name.size(); at += length) {
        length = utf8_at(name, at, code);
        if (length == 0 || is_control(code) || code == '\'' || code == '$' || (code == '\\' && !kBackslashSeparates))
            return false;
    }
    return !name.empty();
}

// \xNN, the one escape of a byte in text.
void append_hex_escape(std::string& out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02x", byte);
    out += text;
}

// A byte in $'...': the usual letters for the common controls, else \xNN.
void append_escaped(std::string& out, unsigned char byte) {
    switch (byte) {
        case '\n': out += "\\n"; return;
        case '\t': out += "\\t"; return;
        case '\r': out += "\\r"; return;
    }
    append_hex_escape(out, byte);
}

// Quoted runs of what may be shown, $'...' runs of what may not.
std::string shell_quoted(const std::string& s) {
    enum { none, plain, escaped } open = none;
    std::string out;
    const auto switch_to = [&](decltype(open) run) {
        if (open == run) return;
        if (open != none) out += '\'';
        out += run == plain ? "'" : "$'";
        open = run;
    };
    uint32_t code;
    for (size_t at = 0, length; at < s.size(); at += length) {
        length = utf8_at(s, at, code);
        if (length == 0 || is_control(code)) {
            length = length == 0 ? 1 : length;
            switch_to(escaped);
            for (size_t i = 0; i < length; i++) append_escaped(out, static_cast<unsigned char>(s[at + i]));
        } else if (s[at] == '\'') {
            if (open != none) out += '\'';
            out += "\\'";
            open = none;
        } else {
            switch_to(plain);
            out.append(s, at, length);
        }
    }
    if (open != none) out += '\'';
    return out.empty() ? "''" : out;
}

}  // namespace

std::string printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            append_hex_escape(text, c);
        }
    }
    return text;
}

std::string shown_name(const std::string& name) { return safe_as_typed(name) ? name : shell_quoted(name); }

std::string single_quoted(const std::string& arg) {
    std::string text = shell_quoted(arg);
    // A name that starts or ends with a quote or an odd byte is already quoted at that end.
    if (text.front() != '\'') text.insert(0, "''");
    if (text.back() != '\'') text += "''";
    return text;
}

std::string json_name(const std::string& name) {
    std::string out = "\"";
    uint32_t code;
    char text[8];
    for (size_t at = 0, length; at < name.size(); at += length) {
        length = utf8_at(name, at, code);
        if (length == 0) {
            length = 1;
            std::snprintf(text, sizeof text, "\\udc%02x", static_cast<unsigned char>(name[at]));
            out += text;
        } else if (code == '"' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (is_control(code)) {
            std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(code));
            out += text;
        } else {
            out.append(name, at, length);
        }
    }
    return out + "\"";
}
