#include "json_reader.h"

#include <cstdlib>

namespace {

struct Reader {
    const std::string& text;
    size_t pos = 0;

    [[noreturn]] void fail(const char* what) { throw std::runtime_error(std::string(what) + " at " + std::to_string(pos)); }
    void skip_space() {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\n' || text[pos] == '\t' || text[pos] == '\r')) pos++;
    }
    bool take(char c) {
        skip_space();
        if (pos < text.size() && text[pos] == c) {
            pos++;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!take(c)) fail("unexpected character");
    }
    bool take_word(const char* word) {
        std::string w = word;
        if (text.compare(pos, w.size(), w) != 0) return false;
        pos += w.size();
        return true;
    }

    std::string read_string() {
        expect('"');
        std::string out;
        while (pos < text.size() && text[pos] != '"') {
            char c = text[pos++];
            if (static_cast<unsigned char>(c) < 0x20) fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos >= text.size()) fail("unterminated escape");
            char e = text[pos++];
            switch (e) {
                case '"': case '\\': case '/': out += e; break;
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u': {
                    if (pos + 4 > text.size()) fail("short \\u escape");
                    long code = std::strtol(text.substr(pos, 4).c_str(), nullptr, 16);
                    pos += 4;
                    if (code >= 0x80) fail("non-ASCII \\u escape not supported here");
                    out += static_cast<char>(code);
                    break;
                }
                default: fail("bad escape");
            }
        }
        if (pos >= text.size()) fail("unterminated string");
        pos++;
        return out;
    }

    Json read_value() {
        skip_space();
        Json v;
        if (pos >= text.size()) fail("missing value");
        char c = text[pos];
        if (c == '{') {
            pos++;
            v.kind = Json::Kind::object;
            if (take('}')) return v;
            do {
                skip_space();
                std::string key = read_string();
                expect(':');
                if (!v.object.emplace(key, read_value()).second) fail("duplicate key");
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            pos++;
            v.kind = Json::Kind::array;
            if (take(']')) return v;
            do v.array.push_back(read_value());
            while (take(','));
            expect(']');
        } else if (c == '"') {
            v.kind = Json::Kind::string;
            v.string = read_string();
        } else if (take_word("true") || take_word("false")) {
            v.kind = Json::Kind::boolean;
            v.boolean = text[pos - 1] == 'e' && text[pos - 2] == 'u';
        } else if (take_word("null")) {
            v.kind = Json::Kind::null;
        } else {
            char* end = nullptr;
            v.number = std::strtod(text.c_str() + pos, &end);
            if (end == text.c_str() + pos) fail("bad value");
            v.kind = Json::Kind::number;
            pos = static_cast<size_t>(end - text.c_str());
        }
        return v;
    }
};

}  // namespace

Json parse_json(const std::string& text) {
    Reader reader{text};
    Json value = reader.read_value();
    reader.skip_space();
    if (reader.pos != text.size()) reader.fail("trailing characters");
    return value;
}
