#include "info/check.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "format/hex.h"
#include "info/extraction.h"
#include "sys/file_stamp.h"
#include "sys/input_file.h"
#include "sys/sha256.h"

namespace {

// A stream longer than this cannot be an OTA file, whatever else it holds:
// reading stops there (/dev/zero has no end).
constexpr uint64_t kStreamReadLimit = kOtaHeaderSize + uint64_t{UINT32_MAX} + 1;

// What a file's reading takes along besides the checks: the digests
// (--sha256) and the status line.
struct Reading {
    bool digests = false;
    Sha256 file_digest;   // every byte of the file, which is then read to its end
    Sha256 image_digest;  // the image, as the checks find it
    Progress progress;
};

bool begin_reading(const CheckRequest& request, const InputFile& in, Reading& reading, std::string& error) {
    reading.digests = request.sha256;
    if (reading.digests && !(reading.file_digest.begin(error) && reading.image_digest.begin(error))) return false;
    const uint64_t total = in.stamp().kind == FileKind::regular ? in.stamp().size : 0;
    reading.progress.start(request.progress, request.stderr_terminal, "ota_info", total);
    return true;
}

// The digests for the report: the file's only when every byte of it was
// read (not a stream cut short at the read limit), the image's only for an
// image that passed every check of the content (the slot is no such check).
// False, with the reason, when the library failed on either: the run then
// fails rather than print a wrong digest.
bool end_digests(Reading& reading, bool whole, const OtaReport& report, ReportExtras& extras, std::string& error) {
    extras.sha256 = reading.digests;
    if (!reading.digests) return true;
    std::array<uint8_t, 32> file, image;
    if (!reading.file_digest.finish(file, error) || !reading.image_digest.finish(image, error)) return false;
    if (whole) extras.file_sha256 = hex_bytes(file.data(), file.size());
    if (report.content_valid()) extras.image_sha256 = hex_bytes(image.data(), image.size());
    return true;
}

// Feeds the file to the checks and measures it. A regular file is its size,
// which must match what was read and hold still until the end; a stream
// (FIFO, pipe, device) is what it gives until it ends. False, with the
// reason, when it cannot be read; `whole` tells whether every byte was read.
bool feed_file(InputFile& in, OtaVerify& verify, std::vector<uint8_t>& chunk, Reading& reading, uint64_t& file_size,
               bool& whole, std::string& error) {
    const bool regular = in.stamp().kind == FileKind::regular;
    uint64_t total = 0;
    bool ended = false;
    for (;;) {
        uint64_t wanted = ota_verify_wanted(verify);
        if (wanted == 0 && (regular ? !reading.digests : total >= kStreamReadLimit)) break;
        size_t got;
        size_t size = wanted > 0 ? static_cast<size_t>(std::min<uint64_t>(wanted, chunk.size())) : chunk.size();
        if (!in.read_up_to(chunk.data(), size, got, error)) return false;
        if (got == 0) {
            ended = true;
            break;
        }
        ota_verify_feed(verify, chunk.data(), got);  // past what is wanted, only counted
        if (reading.digests) reading.file_digest.update(chunk.data(), got);
        total += got;
        reading.progress.update(total);
    }
    whole = ended;
    if (!regular) {
        file_size = total;
        return true;
    }
    file_size = in.stamp().size;
    if (ended ? total != file_size : total > file_size) {
        error = "file changed size while it was read";
        return false;
    }
    return in.unchanged(error);
}

CheckOutcome unreadable(const std::string& file, const std::string& error,
                        CheckOutcome::End end = CheckOutcome::End::unreadable) {
    CheckOutcome outcome;
    outcome.end = end;
    outcome.subject = file;
    outcome.error = error;
    return outcome;
}

}  // namespace

CheckOutcome check_ota_file(const std::string& file, const CheckRequest& request, std::vector<uint8_t>& chunk) {
    std::string error;
    InputFile in;
    bool opened =
        input_arg(file).standard ? in.open_standard_input(error) : in.open(file, FifoOpen::wait_for_writer, error);
    if (!opened) return unreadable(file, error, CheckOutcome::End::unopened);
    if (in.stamp().kind == FileKind::directory) return unreadable(file, std::strerror(EISDIR));
    Extraction extraction;
    CheckOutcome outcome;
    if (request.extract && !extraction.begin(*request.extract, in, outcome.subject, outcome.error)) {
        outcome.end = CheckOutcome::End::extraction_refused;
        return outcome;
    }
    Reading reading;
    if (!begin_reading(request, in, reading, error)) return unreadable(file, error);
    ByteSink sink;
    if (request.extract || reading.digests) {
        sink = [&](const uint8_t* data, size_t size) {
            if (request.extract) extraction.write(data, size);
            if (reading.digests) reading.image_digest.update(data, size);
        };
    }
    OtaVerifyLimits limits;
    limits.max_file_size = request.max_size;
    OtaVerify verify;
    ota_verify_begin(verify, limits, sink);
    uint64_t file_size = 0;
    bool whole = false;
    const bool read = feed_file(in, verify, chunk, reading, file_size, whole, error);
    reading.progress.clear();
    if (!read) return unreadable(file, error);
    ota_verify_end(verify, file_size);

    outcome.end = CheckOutcome::End::checked;
    outcome.report = verify.report;
    outcome.extras.max_size = request.max_size;
    if (!end_digests(reading, whole, outcome.report, outcome.extras, error)) return unreadable(file, error);
    if (!request.extract) return outcome;
    if (!outcome.report.valid()) {
        outcome.extracted = CheckOutcome::Extracted::invalid;
    } else if (!extraction.commit(chunk, outcome.subject, outcome.error)) {
        outcome.extracted = CheckOutcome::Extracted::failed;
    } else {
        outcome.extracted = CheckOutcome::Extracted::done;
    }
    return outcome;
}
