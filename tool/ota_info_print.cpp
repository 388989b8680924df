#include "tool/ota_info_print.h"

#include <cstdio>

#include "format/ota_header.h"
#include "tool/diagnostic.h"

namespace {

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string size_text(uint64_t value) { return hex(value) + " (" + std::to_string(value) + " bytes)"; }

std::string line(const char* field, const std::string& value) {
    std::string text = field;
    text += ':';
    text.append(15 - text.size(), ' ');
    return text + value + "\n";
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    out += text;
    out += '"';
    return out;
}

std::string json_quote(const std::string& ascii) {
    std::string text;
    for (char c : ascii) {
        if (c == '"' || c == '\\') text += '\\';
        text += c;
    }
    return quoted(text);
}

template <typename T>
std::string json_optional(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "null";
}

}  // namespace

std::string ota_listing(const std::string& file, const OtaReport& r) {
    std::string text = line("file", printable(file));
    if (r.header_complete) {
        std::string magic = quoted(printable(r.magic));
        magic += r.magic == kOtaMagicText ? " (expected)" : " (expected " + quoted(kOtaMagicText) + ")";
        text += line("magic", magic);
        text += line("label", quoted(printable(r.label)));
        text += line("mode", r.mode);
        text += line("payload_size", size_text(r.payload_size) + ", file has " + size_text(r.computed.payload_size));
        text += line("payload_crc", hex(r.payload_crc) + ", computed " + hex(r.computed.payload_crc));
        std::string image_size = r.computed.image_size ? size_text(*r.computed.image_size) : "unknown";
        std::string image_crc = r.computed.image_crc ? hex(*r.computed.image_crc) : "unknown";
        const char* how = r.mode == "image_compress" ? ", decoded " : ", computed ";
        text += line("image_size", size_text(r.image_size) + how + image_size);
        text += line("image_crc", hex(r.image_crc) + ", computed " + image_crc);
        if (r.mode == "image_compress") text += line("xz_check", r.xz_check.empty() ? "unknown" : r.xz_check);
    }
    for (const auto& problem : r.problems) text += line("problem", problem);
    std::string verdict = r.valid() ? "valid"
                                    : "invalid, " + std::to_string(r.problems.size()) +
                                          (r.problems.size() == 1 ? " problem" : " problems");
    return text + line("verdict", verdict);
}

std::string ota_json(const std::string& file, const OtaReport& r) {
    std::string text = "{";
    text += "\"file\":" + json_quote(printable(file));
    text += ",\"valid\":" + std::string(r.valid() ? "true" : "false");
    text += ",\"mode\":" + json_quote(r.mode);
    text += ",\"magic\":" + json_quote(printable(r.magic));
    text += ",\"label\":" + json_quote(printable(r.label));
    text += ",\"payload_size\":" + std::to_string(r.payload_size);
    text += ",\"payload_crc\":" + std::to_string(r.payload_crc);
    text += ",\"image_size\":" + std::to_string(r.image_size);
    text += ",\"image_crc\":" + std::to_string(r.image_crc);
    text += ",\"computed\":{";
    text += "\"payload_size\":" + std::to_string(r.computed.payload_size);
    text += ",\"payload_crc\":" + std::to_string(r.computed.payload_crc);
    text += ",\"image_size\":" + json_optional(r.computed.image_size);
    text += ",\"image_crc\":" + json_optional(r.computed.image_crc);
    text += "}";
    text += ",\"xz_check\":" + (r.xz_check.empty() ? std::string("null") : json_quote(r.xz_check));
    text += ",\"problems\":[";
    for (size_t i = 0; i < r.problems.size(); i++) {
        if (i > 0) text += ',';
        text += json_quote(printable(r.problems[i]));
    }
    return text + "]}\n";
}
