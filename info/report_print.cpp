#include "info/report_print.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "format/hex.h"
#include "format/ota_header.h"
#include "text/quote.h"

namespace {

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

}  // namespace

std::string ota_listing(const std::string& file, const OtaReport& r) {
    std::string text = line("file", printable(file));
    if (r.header_complete) {
        std::string magic = quoted(printable(r.magic));
        magic += r.magic == kOtaMagicText ? " (expected)" : " (expected " + quoted(kOtaMagicText) + ")";
        text += line("magic", magic);
        text += line("label", quoted(printable(r.label)));
        text += line("mode", ota_report_mode_name(r));
        text += line("payload_size", size_text(r.payload_size) + ", file has " + size_text(r.computed.payload_size));
        text += line("payload_crc", hex(r.payload_crc) + ", computed " + hex(r.computed.payload_crc));
        std::string image_size = r.computed.image_size ? size_text(*r.computed.image_size) : "unknown";
        std::string image_crc = r.computed.image_crc ? hex(*r.computed.image_crc) : "unknown";
        const bool compressed = r.mode == OtaMode::image_compress;
        const char* how = compressed ? ", decoded " : ", computed ";
        text += line("image_size", size_text(r.image_size) + how + image_size);
        text += line("image_crc", hex(r.image_crc) + ", computed " + image_crc);
        if (compressed) text += line("xz_check", r.xz_check.empty() ? "unknown" : r.xz_check);
    }
    for (const auto& problem : r.problems) text += line("problem", problem);
    std::string verdict = r.valid()       ? "valid"
                          : r.bad_magic ? "not an OTA file (bad magic)"
                                        : "invalid, " + std::to_string(r.problems.size()) +
                                              (r.problems.size() == 1 ? " problem" : " problems");
    return text + line("verdict", verdict);
}

namespace {

// Keys in the documented order; every string is printable ASCII, so the
// text is the same whatever JSON writer makes it.
nlohmann::ordered_json json_object(const std::string& file, const OtaReport& r) {
    auto optional = [](const auto& value) { return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(); };
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    for (const auto& problem : r.problems) problems.push_back(printable(problem));
    nlohmann::ordered_json json = {
        {"file", printable(file)},
        {"valid", r.valid()},
        {"mode", ota_report_mode_name(r)},
        {"magic", printable(r.magic)},
        {"label", printable(r.label)},
        {"payload_size", r.payload_size},
        {"payload_crc", r.payload_crc},
        {"image_size", r.image_size},
        {"image_crc", r.image_crc},
        {"computed",
         {{"payload_size", r.computed.payload_size},
          {"payload_crc", r.computed.payload_crc},
          {"image_size", optional(r.computed.image_size)},
          {"image_crc", optional(r.computed.image_crc)}}},
        {"xz_check", r.xz_check.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(r.xz_check)},
        {"problems", problems},
    };
    return json;
}

}  // namespace

std::string ota_json(const std::string& file, const OtaReport& report) { return json_object(file, report).dump() + "\n"; }

std::string ota_json_unreadable(const std::string& file, const std::string& reason) {
    OtaReport report;
    report.problems.push_back("cannot be read: " + reason);
    nlohmann::ordered_json json = json_object(file, report);
    for (auto& [key, value] : json.items()) {
        if (key != "file" && key != "valid" && key != "problems") value = nullptr;
    }
    return json.dump() + "\n";
}
