#include "info/report_print.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

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

std::string slot_text(uint64_t file_size, uint64_t max_size) {
    std::string text = hex(max_size);
    if (max_size > 0) {
        // Tenths of a percent, in integers so that every host prints the same:
        // the whole slots, then the part of one (both halved alike until
        // that product cannot overflow).
        uint64_t size = file_size, slot = max_size;
        while (slot > UINT64_MAX / 1000) size >>= 1, slot >>= 1;
        const uint64_t whole = std::min<uint64_t>(size / slot, UINT64_MAX / 1000 - 1);
        uint64_t tenths = whole * 1000 + size % slot * 1000 / slot;
        // A file over its slot never reads as a full one.
        if (file_size > max_size && tenths <= 1000) tenths = 1001;
        text += ", " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "% used";
    }
    const bool fits = file_size <= max_size;
    const uint64_t bytes = fits ? max_size - file_size : file_size - max_size;
    return text + ", " + std::to_string(bytes) + (bytes == 1 ? " byte " : " bytes ") + (fits ? "free" : "over");
}

std::string ota_listing(const std::string& file, const OtaReport& r, const ReportExtras& extras) {
    std::string text = line("file", shown_name(file));
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
    if (extras.max_size) text += line("slot", slot_text(r.file_size, *extras.max_size));
    if (extras.sha256) {
        text += line("file_sha256", extras.file_sha256.empty() ? "unknown" : extras.file_sha256);
        text += line("image_sha256", extras.image_sha256.empty() ? "unknown" : extras.image_sha256);
    }
    for (const auto& problem : r.problems) text += line("problem", problem);
    std::string verdict = r.valid()     ? "valid"
                          : r.bad_magic ? "not an OTA file (bad magic)"
                                        : "invalid, " + std::to_string(r.problems.size()) +
                                              (r.problems.size() == 1 ? " problem" : " problems");
    return text + line("verdict", verdict);
}

namespace {

using Json = nlohmann::ordered_json;

// Every key but "file", in the documented order, each with its value as
// JSON text. The label, as the file's name, is written by json_name: its
// exact bytes, where a JSON writer would refuse one that is not UTF-8.
using Fields = std::vector<std::pair<std::string, std::string>>;

Fields json_fields(const OtaReport& r, const ReportExtras& extras) {
    auto optional = [](const auto& value) { return value ? Json(*value).dump() : "null"; };
    auto text_or_null = [](const std::string& text) { return text.empty() ? "null" : Json(text).dump(); };
    // A file too short for a header has no stored values, not zeros.
    auto stored = [&](const Json& value) { return r.header_complete ? value.dump() : "null"; };
    std::string bytes_free = "null";  // negative when the file is over
    if (extras.max_size) {
        const uint64_t size = r.file_size, slot = *extras.max_size;
        bytes_free = size <= slot ? std::to_string(slot - size) : "-" + std::to_string(size - slot);
    }
    const Json computed = {{"payload_size", r.computed.payload_size},
                           {"payload_crc", r.computed.payload_crc},
                           {"image_size", r.computed.image_size ? Json(*r.computed.image_size) : Json()},
                           {"image_crc", r.computed.image_crc ? Json(*r.computed.image_crc) : Json()}};
    return {
        {"valid", Json(r.valid()).dump()},
        {"mode", Json(ota_report_mode_name(r)).dump()},
        {"magic", stored(printable(r.magic))},
        {"label", r.header_complete ? json_name(r.label) : "null"},
        {"payload_size", stored(r.payload_size)},
        {"payload_crc", stored(r.payload_crc)},
        {"image_size", stored(r.image_size)},
        {"image_crc", stored(r.image_crc)},
        {"computed", computed.dump()},
        {"xz_check", text_or_null(r.xz_check)},
        {"problems", Json(r.problems).dump()},
        {"max_size", optional(extras.max_size)},
        {"bytes_free", bytes_free},
        {"file_sha256", text_or_null(extras.file_sha256)},
        {"image_sha256", text_or_null(extras.image_sha256)},
        {"file_size", std::to_string(r.file_size)},
    };
}

// The object, "file" first.
std::string json_line(const std::string& file, const Fields& fields) {
    std::string line = "{\"file\":" + json_name(file);
    for (const auto& [key, value] : fields) line.append(",\"").append(key).append("\":").append(value);
    return line + "}\n";
}

}  // namespace

std::string ota_json(const std::string& file, const OtaReport& report, const ReportExtras& extras) {
    return json_line(file, json_fields(report, extras));
}

std::string ota_json_unreadable(const std::string& file, const std::string& reason) {
    OtaReport report;
    report.problems.push_back("cannot be read: " + reason);
    Fields fields = json_fields(report, {});
    for (auto& [key, value] : fields) {
        if (key != "valid" && key != "problems") value = "null";
    }
    return json_line(file, fields);
}
