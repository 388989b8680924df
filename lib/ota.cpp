// The library's calls: the packing run and the reading run that the tools
// use, with nothing to print, and their outcomes in the library's terms.
#include "image_gen_header/ota.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "format/crc16_xmodem.h"
#include "format/ota_header.h"
#include "info/check.h"
#include "pack/pack_run.h"
#include "sys/input_file.h"
#include "text/quote.h"
#include "text/say.h"

namespace ota {
namespace {

OtaMode internal(Mode mode) {
    switch (mode) {
        case Mode::image_compress: return OtaMode::image_compress;
        case Mode::flash_remapping: return OtaMode::flash_remapping;
        case Mode::image_copy: break;
    }
    return OtaMode::image_copy;
}

Mode external(OtaMode mode) {
    switch (mode) {
        case OtaMode::image_compress: return Mode::image_compress;
        case OtaMode::flash_remapping: return Mode::flash_remapping;
        case OtaMode::image_copy: break;
    }
    return Mode::image_copy;
}

bool fail(ErrorKind kind, const std::string& message, Error& error) {
    error.kind = kind;
    error.message = message;
    return false;
}

// A packing failure in the library's kinds; the message is the tool's.
bool pack_failed(const PackFailure& failure, Error& error) {
    const std::string message = failure.subject.empty() ? failure.reason : about(failure.subject, failure.reason);
    if (failure.subject == "xz") return fail(ErrorKind::xz, message, error);
    switch (*failure.kind) {
        case PackFailureKind::input_param: return fail(ErrorKind::usage, message, error);
        case PackFailureKind::malloc: return fail(ErrorKind::memory, message, error);
        case PackFailureKind::file_open:
        case PackFailureKind::too_large: return fail(ErrorKind::file, message, error);
        case PackFailureKind::file_read: return fail(ErrorKind::read, message, error);
        case PackFailureKind::file_write: return fail(ErrorKind::write, message, error);
    }
    return fail(ErrorKind::file, message, error);
}

// The report as ota_info's JSON gives it: nulls where the file holds no header.
Report report_of(const std::string& file, const OtaReport& r, const ReportExtras& extras) {
    Report report;
    report.file = file;
    report.valid = r.valid();
    report.mode = ota_report_mode_name(r);
    if (r.header_complete) {
        report.magic = printable(r.magic);
        report.label = r.label;
        report.payload_size = r.payload_size;
        report.payload_crc = r.payload_crc;
        report.image_size = r.image_size;
        report.image_crc = r.image_crc;
    }
    report.computed = {r.computed.payload_size, r.computed.payload_crc, r.computed.image_size, r.computed.image_crc};
    if (!r.xz_check.empty()) report.xz_check = r.xz_check;
    report.problems = r.problems;
    report.max_size = extras.max_size;
    if (extras.max_size) {
        // Saturated: only a slot of 2^63 bytes or more is past what int64_t holds.
        const uint64_t slot = *extras.max_size, size = r.file_size;
        const uint64_t difference = size <= slot ? slot - size : size - slot;
        const int64_t magnitude = static_cast<int64_t>(std::min<uint64_t>(difference, INT64_MAX));
        report.bytes_free = size <= slot ? magnitude : -magnitude;
    }
    if (!extras.file_sha256.empty()) report.file_sha256 = extras.file_sha256;
    if (!extras.image_sha256.empty()) report.image_sha256 = extras.image_sha256;
    report.file_size = r.file_size;
    return report;
}

// One reading of `file`, extracting to `raw` when given.
bool check(const std::string& file, const CheckRequest& request, Report& report, Error& error) {
    try {
        std::vector<uint8_t> chunk(kChunkSize);
        const CheckOutcome outcome = check_ota_file(file, request, chunk);
        switch (outcome.end) {
            case CheckOutcome::End::unopened: return fail(ErrorKind::file, about(file, outcome.error), error);
            case CheckOutcome::End::unreadable: return fail(ErrorKind::read, about(file, outcome.error), error);
            case CheckOutcome::End::extraction_refused:
                return fail(ErrorKind::write, about(outcome.subject, outcome.error), error);
            case CheckOutcome::End::checked: break;
        }
        report = report_of(file, outcome.report, outcome.extras);
        switch (outcome.extracted) {
            case CheckOutcome::Extracted::invalid:
                return fail(ErrorKind::invalid, about(file, "not extracted: the file has problems"), error);
            case CheckOutcome::Extracted::failed:
                return fail(ErrorKind::write, about(outcome.subject, outcome.error), error);
            case CheckOutcome::Extracted::not_asked:
            case CheckOutcome::Extracted::done: break;
        }
        return true;
    } catch (const std::bad_alloc& e) {
        return fail(ErrorKind::memory, about("out of resources", e.what()), error);
    }
}

}  // namespace

const char* mode_name(Mode mode) { return ota_mode_name(internal(mode)); }

std::optional<Mode> mode_named(const std::string& keyword) {
    std::optional<OtaMode> mode = ota_mode_named(keyword);
    if (!mode) return std::nullopt;
    return external(*mode);
}

bool pack(const std::string& input, Mode mode, const PackOptions& options, PackResult& result, Error& error) {
    PackRequest request;
    request.input = input;
    request.mode = internal(mode);
    request.output = options.output;
    PackEvents events;
    if (options.warning) {
        events.warning = [&](const std::string& subject, const std::string& what) {
            options.warning(about(subject, what));
        };
    }
    PackOutcome outcome;
    try {
        outcome = pack_file(request, events);
    } catch (const std::bad_alloc& e) {
        return fail(ErrorKind::memory, about("out of resources", e.what()), error);
    }
    if (outcome.failure.kind) return pack_failed(outcome.failure, error);
    result.output = outcome.output;
    result.image_size = static_cast<uint32_t>(*outcome.image_size);
    result.image_crc = *outcome.image_crc;
    result.payload_size = *outcome.payload_size;
    result.payload_crc = *outcome.payload_crc;
    return true;
}

bool verify(const std::string& file, const VerifyOptions& options, Report& report, Error& error) {
    CheckRequest request;
    request.max_size = options.max_size;
    request.sha256 = options.sha256;
    return check(file, request, report, error);
}

bool extract(const std::string& file, const std::string& raw, Report& report, Error& error) {
    CheckRequest request;
    request.extract = output_arg(raw);
    return check(file, request, report, error);
}

std::array<uint8_t, kHeaderSize> encode_header(const Header& header) {
    const OtaHeader h{internal(header.mode), header.label.substr(0, kOtaMaxLabelLength),
                      header.image_size,     header.image_crc,
                      header.payload_size,   header.payload_crc};
    std::array<uint8_t, kHeaderSize> bytes;
    ota_header_encode(h, bytes.data());
    return bytes;
}

bool decode_header(const uint8_t* bytes, Header& header, std::string& error) {
    const OtaStoredHeader stored = ota_header_decode(bytes);
    if (!stored.magic_matches) {
        error = "bad magic \"" + printable(stored.magic) + "\"";
        return false;
    }
    if (!stored.mode) {
        error = "the flags name no mode";
        return false;
    }
    header.mode = external(*stored.mode);
    header.label = stored.label;
    header.image_size = stored.image_size;
    header.image_crc = static_cast<uint16_t>(stored.image_crc);
    header.payload_size = stored.payload_size;
    header.payload_crc = static_cast<uint16_t>(stored.payload_crc);
    return true;
}

uint16_t crc16_xmodem(const uint8_t* data, size_t size, uint16_t crc) { return crc16_xmodem_update(crc, data, size); }

}  // namespace ota
