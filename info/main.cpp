// ota_info [options] FILE...: lists and verifies OTA files, and gives back
// the raw image of one.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "format/hex.h"
#include "info/extraction.h"
#include "info/options.h"
#include "info/report_print.h"
#include "sys/file_stamp.h"
#include "sys/input_file.h"
#include "sys/process.h"
#include "sys/sha256.h"
#include "sys/standard_output.h"
#include "sys/system_paths.h"
#include "text/progress.h"
#include "text/say.h"
#include "text/version.h"
#include "verify/ota_verify.h"

namespace {

// "ota_info: SUBJECT: WHAT" on standard error; returns kInfoTrouble.
int info_complain(const std::string& subject, const std::string& what) {
    diagnose("ota_info", about(subject, what));
    return kInfoTrouble;
}

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

bool begin_reading(const InfoOptions& options, const InputFile& in, Reading& reading, std::string& error) {
    reading.digests = options.sha256;
    if (reading.digests && !(reading.file_digest.begin(error) && reading.image_digest.begin(error))) return false;
    const uint64_t total = in.stamp().kind == FileKind::regular ? in.stamp().size : 0;
    reading.progress.start(options.progress, stderr_is_terminal(), "ota_info", total);
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

// How one file ended: its status, and whether a report was printed.
struct Checked {
    int status;
    bool printed;
};

// A file that cannot be read: its reason on standard error, and in JSON its
// object all the same, so that every FILE has one.
Checked unreadable(const InfoOptions& options, const std::string& file, const std::string& error, FILE* report_to) {
    if (options.json) std::fputs(ota_json_unreadable(file, error).c_str(), report_to);
    return {info_complain(file, error), options.json};
}

// Checks one file; prints its report to `report_to`, after a blank line if a
// listing came before.
Checked check_file(const InfoOptions& options, const std::string& file, std::vector<uint8_t>& chunk, FILE* report_to,
                   bool listed_before) {
    std::string error;
    InputFile in;
    bool opened =
        input_arg(file).standard ? in.open_standard_input(error) : in.open(file, FifoOpen::wait_for_writer, error);
    if (!opened) return unreadable(options, file, error, report_to);
    if (in.stamp().kind == FileKind::directory) return unreadable(options, file, std::strerror(EISDIR), report_to);
    Extraction extraction;
    std::string subject;
    if (options.extract && !extraction.begin(*options.extract, in, subject, error)) {
        return {info_complain(subject, error), false};
    }
    Reading reading;
    if (!begin_reading(options, in, reading, error)) return unreadable(options, file, error, report_to);
    ByteSink sink;
    if (options.extract || reading.digests) {
        sink = [&](const uint8_t* data, size_t size) {
            if (options.extract) extraction.write(data, size);
            if (reading.digests) reading.image_digest.update(data, size);
        };
    }
    OtaVerifyLimits limits;
    limits.max_file_size = options.max_size;
    OtaVerify verify;
    ota_verify_begin(verify, limits, sink);
    uint64_t file_size = 0;
    bool whole = false;
    const bool read = feed_file(in, verify, chunk, reading, file_size, whole, error);
    reading.progress.clear();
    if (!read) return unreadable(options, file, error, report_to);
    ota_verify_end(verify, file_size);

    const OtaReport& report = verify.report;
    ReportExtras extras;
    extras.max_size = options.max_size;
    if (!end_digests(reading, whole, report, extras, error)) return unreadable(options, file, error, report_to);
    if (!options.json && listed_before) std::fputs("\n", report_to);
    std::string text = options.json ? ota_json(file, report, extras) : ota_listing(file, report, extras);
    std::fputs(text.c_str(), report_to);

    if (!options.extract) return {report.valid() ? kInfoValid : kInfoInvalid, true};
    if (!report.valid()) {
        info_complain(file, "not extracted: the file has problems");
        return {kInfoInvalid, true};
    }
    if (!extraction.commit(chunk, subject, error)) return {info_complain(subject, error), true};
    return {kInfoValid, true};
}

int run(const InfoOptions& options) {
    std::vector<uint8_t> chunk(kChunkSize);
    // With the image on standard output, the report goes to standard error.
    FILE* report_to = options.extract && options.extract->standard ? stderr : stdout;
    int status = kInfoValid;
    bool printed = false;
    for (const std::string& file : options.files) {
        Checked checked = check_file(options, file, chunk, report_to, printed);
        status = std::max(status, checked.status);
        printed = printed || checked.printed;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    process_setup(argc, argv);
    int status = kInfoValid;
    try {
        InfoOptions options = parse_info_arguments(argc, argv);
        switch (options.action) {
            case InfoOptions::Action::help: std::fputs(kInfoUsage, stdout); break;
            case InfoOptions::Action::version: say(version_text("ota_info")); break;
            case InfoOptions::Action::usage_failure:
                diagnose("ota_info", options.problem);
                std::fputs("Try 'ota_info --help'.\n", stderr);
                status = kInfoTrouble;
                break;
            case InfoOptions::Action::run: status = run(options); break;
        }
    } catch (const std::bad_alloc& e) {
        // Memory ran out: the extraction's owner has removed a partial RAW.
        status = info_complain("out of resources", e.what());
    } catch (const std::exception& e) {
        // Anything else is a fault of the tool's own, told as one.
        status = info_complain("internal error", e.what());
    }
    // The report, the help and the version are the result: losing them fails the run.
    std::string error;
    if (!stdout_flushed(error)) return info_complain("standard output", error);
    return status;
}
