#include "verify/ota_verify.h"

#include <algorithm>
#include <cstring>

#include "format/crc16_xmodem.h"
#include "format/hex.h"
#include "text/quote.h"

namespace {

// A flag word in a problem: all eight digits, as a memory dump shows it.
std::string hex_word(uint32_t value) { return hex(value, 8, HexCase::upper); }

bool is_flag(uint32_t word) { return word == kOtaFlagSet || word == kOtaFlagClear; }

// The header's fixed parts: magic, fill, constant and reserved words, flags, label.
void check_header(const OtaStoredHeader& h, OtaReport& report) {
    auto& problems = report.problems;
    report.magic = h.magic;
    if (!h.magic_matches) {
        report.bad_magic = true;
        problems.push_back("bad magic");
    } else if (!h.magic_filled) {
        problems.push_back("magic not followed by 0xFF fill");
    }

    report.label = h.label;
    if (!h.label_terminated) {
        problems.push_back("label has no NUL within its field");
    } else if (!h.label_filled) {
        problems.push_back("label not followed by 0xFF fill");
    }

    if (!is_flag(h.remap_flag))
        problems.push_back("remap_flag " + hex_word(h.remap_flag) + " is neither set nor clear");
    if (!is_flag(h.compress_flag)) {
        problems.push_back("compress_flag " + hex_word(h.compress_flag) + " is neither set nor clear");
    }
    uint32_t expected_marker = h.remap_flag == kOtaFlagSet ? kOtaRemapMarkerValue : kOtaFlagClear;
    if (is_flag(h.remap_flag) && h.remap_marker != expected_marker) {
        problems.push_back("remap_marker " + hex_word(h.remap_marker) + " does not match remap_flag");
    }
    if (h.zero_word != 0) problems.push_back("zero_word is not 0");
    if (h.reserved_44 != kOtaReservedWord) problems.push_back("reserved word at 0x44 is not 0xFFFFFFFF");
    if (h.reserved_60 != kOtaReservedWord) problems.push_back("reserved word at 0x60 is not 0xFFFFFFFF");
    if (!h.tail_filled) problems.push_back("reserved bytes 0x68..0x7F are not all 0xFF");
    if (h.remap_flag == kOtaFlagSet && h.compress_flag == kOtaFlagSet) {
        problems.push_back("remap_flag and compress_flag are both set");
    }
    report.mode = h.mode;
}

// The image as it is found, to the caller's sink, its first bytes kept.
void take_image(OtaVerify& v, const uint8_t* data, size_t size) {
    const size_t kept = std::min(size, sizeof v.image_head - v.image_head_size);
    std::memcpy(v.image_head + v.image_head_size, data, kept);
    v.image_head_size += kept;
    if (v.image_sink) v.image_sink(data, size);
}

// The header's label is a copy of the image's: what the packer writes for
// that image, cut to fit, empty when the image has no label slot. Checked
// once the image's first bytes are all had.
void check_label(const OtaVerify& v, OtaReport& report) {
    if (!report.computed.image_size) return;
    const uint64_t head = std::min<uint64_t>(*report.computed.image_size, sizeof v.image_head);
    if (v.image_head_size < head) return;
    const std::string own = ota_label_of(v.image_head, static_cast<size_t>(head));
    if (report.label != own) {
        report.problems.push_back("label \"" + printable(report.label) + "\" is not the image's own label \"" +
                                  printable(own) + "\"");
    }
}

bool compressed(const OtaReport& report) { return report.mode == OtaMode::image_compress; }
bool uncompressed(const OtaReport& report) { return report.mode && !compressed(report); }

void take_header(OtaVerify& v) {
    OtaReport& report = v.report;
    report.header_complete = true;
    const OtaStoredHeader stored = ota_header_decode(v.header);
    check_header(stored, report);
    report.payload_size = stored.payload_size;
    report.payload_crc = stored.payload_crc;
    report.image_size = stored.image_size;
    report.image_crc = stored.image_crc;
    if (compressed(report)) {
        XzStreamLimits limits{std::min<uint64_t>(report.image_size, v.limits.max_image_size), v.limits.xz_memory_limit};
        xz_stream_begin(v.xz, limits, [&v](const uint8_t* data, size_t size) { take_image(v, data, size); });
    }
}

// Payload bytes, `size` of them, from `offset` within the payload.
void take_payload(OtaVerify& v, const uint8_t* data, size_t size, uint64_t offset) {
    OtaReport& report = v.report;
    if (offset >= report.payload_size) return;  // past the payload: only counted
    size = static_cast<size_t>(std::min<uint64_t>(size, report.payload_size - offset));
    report.computed.payload_crc = crc16_xmodem_update(report.computed.payload_crc, data, size);
    if (compressed(report)) {
        xz_stream_feed(v.xz, data, size);
    } else if (uncompressed(report)) {
        take_image(v, data, size);
    }
}

void end_image(OtaVerify& v) {
    OtaReport& report = v.report;
    auto& problems = report.problems;
    const uint64_t payload_present = std::min<uint64_t>(report.computed.payload_size, report.payload_size);
    if (uncompressed(report)) {
        report.computed.image_size = payload_present;
        report.computed.image_crc = report.computed.payload_crc;
        if (report.image_size != report.payload_size) problems.push_back("image_size differs from payload_size");
        if (report.image_crc != report.payload_crc) problems.push_back("image_crc differs from payload_crc");
        check_label(v, report);
        return;
    }
    if (!compressed(report)) return;
    bool decoded = xz_stream_end(v.xz);
    report.xz_check = v.xz.check;
    for (const XzProblem& problem : v.xz.problems) {
        // A stream cut by the reader's own cap says so, not that it is too long.
        bool capped = problem.kind == XzProblemKind::too_long && report.image_size > v.limits.max_image_size;
        problems.push_back(capped ? "image_size is larger than this reader decodes" : problem.text);
    }
    if (!decoded) return;
    report.computed.image_size = v.xz.output_size;
    report.computed.image_crc = v.xz.output_crc;
    if (v.xz.output_size != report.image_size) problems.push_back("xz stream decodes to fewer bytes than image_size");
    if (v.xz.output_crc != report.image_crc) problems.push_back("image_crc does not match the decoded image");
    check_label(v, report);
}

}  // namespace

std::string ota_report_mode_name(const OtaReport& report) {
    if (report.mode) return ota_mode_name(*report.mode);
    return report.header_complete ? "inconsistent" : "unknown";
}

void ota_verify_begin(OtaVerify& v, const OtaVerifyLimits& limits, ByteSink image_sink) {
    v.limits = limits;
    v.image_sink = std::move(image_sink);
}

uint64_t ota_verify_wanted(const OtaVerify& v) {
    uint64_t wanted = v.fed < kOtaHeaderSize ? kOtaHeaderSize : kOtaHeaderSize + uint64_t{v.report.payload_size} + 1;
    return wanted > v.fed ? wanted - v.fed : 0;
}

void ota_verify_feed(OtaVerify& v, const uint8_t* data, size_t size) {
    if (v.fed < kOtaHeaderSize) {
        size_t take = static_cast<size_t>(std::min<uint64_t>(size, kOtaHeaderSize - v.fed));
        std::memcpy(v.header + v.fed, data, take);
        v.fed += take;
        data += take;
        size -= take;
        if (v.fed < kOtaHeaderSize) return;
        take_header(v);
    }
    take_payload(v, data, size, v.fed - kOtaHeaderSize);
    v.fed += size;
}

void ota_verify_end(OtaVerify& v, uint64_t file_size) {
    OtaReport& report = v.report;
    auto& problems = report.problems;
    file_size = std::max(file_size, v.fed);
    report.file_size = file_size;
    if (!report.header_complete) {
        problems.push_back("file is shorter than the 128-byte header");
    } else {
        report.computed.payload_size = file_size - kOtaHeaderSize;
        if (report.computed.payload_size < report.payload_size) {
            problems.push_back("payload is shorter than payload_size");
        } else if (report.computed.payload_size > report.payload_size) {
            problems.push_back("file runs past the end of the payload");
        }
        if (report.payload_crc > UINT16_MAX) problems.push_back("payload_crc has bits above the 16-bit checksum");
        if (report.image_crc > UINT16_MAX) problems.push_back("image_crc has bits above the 16-bit checksum");
        if (report.computed.payload_crc != report.payload_crc)
            problems.push_back("payload_crc does not match the payload");
        end_image(v);
    }
    if (v.limits.max_file_size && file_size > *v.limits.max_file_size) {
        report.over_limit = true;
        problems.push_back("file is " + std::to_string(file_size) + " bytes, more than the " +
                           std::to_string(*v.limits.max_file_size) + "-byte limit");
    }
}
