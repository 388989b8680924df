// ota_info [options] FILE...: lists and verifies OTA files, and gives back
// the raw image of one.
#include <algorithm>
#include <climits>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "verify/ota_verify.h"
#include "sys/signals.h"
#include "sys/diagnostic.h"
#include "sys/file_io.h"
#include "info/report_print.h"
#include "sys/atomic_file.h"
#include "sys/process.h"

namespace {

constexpr int kValid = 0;
constexpr int kInvalid = 1;
constexpr int kTrouble = 2;  // usage error, or a file that cannot be read or written

// Files are read a chunk at a time, whatever their size.
constexpr size_t kChunkSize = size_t{1} << 20;

const char kUsage[] =
    "usage: ota_info [--json] [--max-size SIZE] [--extract RAW] FILE...\n"
    "Lists and verifies OTA files made by image_gen_header.\n"
    "\n"
    "  --json            print one JSON object a line (JSON Lines) instead of the listing\n"
    "  --max-size SIZE   a file larger than SIZE bytes is a problem; SIZE is decimal\n"
    "                    or 0x hexadecimal, with an optional binary suffix: K or KiB\n"
    "                    (1024), M or MiB (1024^2), G or GiB (1024^3)\n"
    "  --extract RAW     write the raw image (decoded for image_compress) to RAW, only\n"
    "                    when every check passes; takes exactly one FILE. RAW - is\n"
    "                    standard output, and the listing then goes to standard error\n"
    "  -h, --help        print this help\n"
    "  -V, --version     print the version\n"
    "\n"
    "Exit status: 0 all valid, 1 a check failed, 2 usage error or a file that cannot\n"
    "be read (or RAW that cannot be written).\n";

struct Options {
    bool json = false;
    std::optional<std::string> extract;
    std::optional<uint64_t> max_size;
    std::vector<std::string> files;
};

int complain(const std::string& subject, const std::string& what) {
    diagnose("ota_info", subject, what);
    return kTrouble;
}

// "4096", "0x1000", "4K", "4KiB", "0x10 MiB", "1G": the suffixes are binary.
bool parse_size(const std::string& text, uint64_t& size) {
    size_t at = 0;
    int base = text.starts_with("0x") || text.starts_with("0X") ? 16 : 10;
    if (base == 16) at = 2;
    uint64_t value = 0;
    size_t digits = 0;
    for (; at < text.size(); at++, digits++) {
        int digit = std::isdigit(static_cast<unsigned char>(text[at])) ? text[at] - '0'
                    : base == 16 && std::isxdigit(static_cast<unsigned char>(text[at]))
                        ? std::tolower(static_cast<unsigned char>(text[at])) - 'a' + 10
                        : -1;
        if (digit < 0) break;
        if (value > (UINT64_MAX - digit) / base) return false;
        value = value * base + digit;
    }
    std::string suffix = text.substr(at);
    if (!suffix.empty() && suffix[0] == ' ') suffix.erase(0, 1);
    unsigned shift = suffix.empty()                         ? 0
                     : suffix == "K" || suffix == "KiB" ? 10
                     : suffix == "M" || suffix == "MiB" ? 20
                     : suffix == "G" || suffix == "GiB" ? 30
                                                        : 64;
    if (digits == 0 || shift == 64 || value > (UINT64_MAX >> shift)) return false;
    size = value << shift;
    return true;
}

// Fills `options`; on a usage error, --help or --version prints and returns false with `status` set.
bool parse_arguments(int argc, char** argv, Options& options, int& status) {
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool option = !options_done && arg.size() > 1 && arg[0] == '-';
        bool has_value = i + 1 < argc && argv[i + 1][0] != '\0';
        if (option && arg == "--") {
            options_done = true;
        } else if (option && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            status = kValid;
            return false;
        } else if (option && (arg == "--version" || arg == "-V")) {
            std::printf("ota_info %s\n", OTA_VERSION);
            status = kValid;
            return false;
        } else if (option && arg == "--json") {
            options.json = true;
        } else if (option && arg == "--extract") {
            if (!has_value) {
                status = complain(arg, "needs a file name");
                return false;
            }
            // Standard output by another name is standard output, not a file to replace.
            std::string raw = argv[++i];
            bool is_stdout = raw == "/dev/stdout" || raw == "/dev/fd/1" || raw == "/proc/self/fd/1";
            options.extract = is_stdout ? std::string("-") : raw;
        } else if (option && (arg == "--max-size" || arg.starts_with("--max-size="))) {
            bool joined = arg != "--max-size";
            if (!joined && !has_value) {
                status = complain(arg, "needs a size: bytes, 0x hexadecimal, with K, KiB, M, MiB, G or GiB");
                return false;
            }
            std::string value = joined ? arg.substr(11) : argv[++i];
            uint64_t size;
            if (!parse_size(value, size)) {
                status = complain("--max-size", "needs a size: bytes, 0x hexadecimal, with K, KiB, M, MiB, G or GiB; not " +
                                                   single_quoted(value));
                return false;
            }
            options.max_size = size;
        } else if (option) {
            status = complain(arg, "unknown option (see ota_info --help)");
            return false;
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty()) {
        status = complain("usage", "ota_info [--json] [--max-size SIZE] [--extract RAW] FILE... (see ota_info --help)");
        return false;
    }
    if (options.extract && options.files.size() != 1) {
        status = complain("--extract", "takes exactly one FILE");
        return false;
    }
    return true;
}

// Where an extracted image goes while it is checked: a temporary file beside
// RAW, renamed into place, or for standard output an unnamed temporary file,
// copied out only once the image is known to be valid.
// Whatever was not put in place is removed when it goes.
struct Extraction {
    std::string raw;
    AtomicFile out;  // RAW
    int held = -1;   // standard output's unnamed file
    bool failed = false;
    std::string error;

    ~Extraction() { file_close(held); }
};

int extraction_fd(const Extraction& x) { return x.held >= 0 ? x.held : x.out.fd; }

bool extraction_begin(Extraction& x, std::string& error) {
    if (x.raw != "-") return output_begin(x.raw, x.out, error);
    x.held = unnamed_temp_file(error);
    return x.held >= 0;
}

void extraction_write(Extraction& x, const uint8_t* data, size_t size) {
    if (!x.failed && !file_write_all(extraction_fd(x), data, size, x.error)) x.failed = true;
}

// Puts a checked image in place: RAW renamed, or the held copy sent out
// through `chunk`.
bool extraction_commit(Extraction& x, std::vector<uint8_t>& chunk, std::string& error) {
    if (x.failed) {
        error = x.error;
        return false;
    }
    if (x.held < 0) return output_close(x.out, error) && output_rename(x.out, error);
    if (!file_rewind(x.held, error)) return false;
    for (;;) {
        size_t got;
        if (!file_read_up_to(x.held, chunk.data(), chunk.size(), got, error)) return false;
        if (got == 0) return true;
        if (!stdout_write_all(chunk.data(), got, error)) return false;
    }
}

// Why RAW may not be written, or empty. A symbolic link into /dev or /proc
// (/dev/stderr, say) is part of the system, not a file to replace; the input
// itself, under any name, is never overwritten.
std::string raw_refusal(const std::string& raw, const InputFile& in) {
    if (path_is_file(raw, in.stamp)) return "is the input file";
    std::string system = path_links_into_system(raw);
    if (!system.empty()) return "is a symbolic link into " + system + ", not replaced";
    return "";
}

// A stream longer than this cannot be an OTA file, whatever else it holds:
// reading stops there (/dev/zero has no end).
constexpr uint64_t kStreamReadLimit = kOtaHeaderSize + uint64_t{UINT32_MAX} + 1;

// Feeds the file to the checks and measures it. A regular file is its size,
// which must match what was read and hold still until the end; a stream
// (FIFO, pipe, device) is what it gives until it ends.
bool feed_file(const InputFile& in, OtaVerify& verify, std::vector<uint8_t>& chunk, uint64_t& file_size,
               std::string& error) {
    const bool regular = in.stamp.kind == FileKind::regular;
    uint64_t total = 0;
    bool ended = false;
    for (;;) {
        uint64_t wanted = ota_verify_wanted(verify);
        if (wanted == 0 && (regular || total >= kStreamReadLimit)) break;
        size_t got;
        size_t size = wanted > 0 ? static_cast<size_t>(std::min<uint64_t>(wanted, chunk.size())) : chunk.size();
        if (!file_read_up_to(in.fd, chunk.data(), size, got, error)) return false;
        if (got == 0) {
            ended = true;
            break;
        }
        ota_verify_feed(verify, chunk.data(), got);  // past what is wanted, only counted
        total += got;
    }
    if (!regular) {
        file_size = total;
        return true;
    }
    file_size = in.stamp.size;
    if (ended ? total != file_size : total > file_size) {
        error = "file changed size while it was read";
        return false;
    }
    return input_unchanged(in, error);
}

// How one file ended: its status, and whether a report was printed.
struct Checked {
    int status;
    bool reported;
};

// A file that cannot be read: its reason on standard error, and in JSON its
// object all the same, so that every FILE has one.
Checked unreadable(const Options& options, const std::string& file, const std::string& error, FILE* report_to) {
    if (options.json) std::fputs(ota_json_unreadable(file, error).c_str(), report_to);
    return {complain(file, error), options.json};
}

// Checks one file; prints its report to `report_to`, after a blank line if a
// listing came before.
Checked check_file(const Options& options, const std::string& file, std::vector<uint8_t>& chunk, FILE* report_to,
                   bool listed_before) {
    std::string error;
    InputFile in;
    if (!input_open(file, FifoOpen::wait_for_writer, in, error)) return unreadable(options, file, error, report_to);
    if (in.stamp.kind == FileKind::directory) return unreadable(options, file, std::strerror(EISDIR), report_to);
    Extraction extraction;
    ByteSink sink;
    if (options.extract) {
        extraction.raw = *options.extract;
        std::string refusal = extraction.raw == "-" ? "" : raw_refusal(extraction.raw, in);
        if (!refusal.empty() || !extraction_begin(extraction, error)) {
            return {complain(extraction.raw, refusal.empty() ? error : refusal), false};
        }
        sink = [&extraction](const uint8_t* data, size_t size) { extraction_write(extraction, data, size); };
    }
    OtaVerifyLimits limits;
    limits.max_file_size = options.max_size;
    OtaVerify verify;
    ota_verify_begin(verify, limits, sink);
    uint64_t file_size = 0;
    if (!feed_file(in, verify, chunk, file_size, error)) return unreadable(options, file, error, report_to);
    ota_verify_end(verify, file_size);

    const OtaReport& report = verify.report;
    if (!options.json && listed_before) std::fputs("\n", report_to);
    std::string text = options.json ? ota_json(file, report) : ota_listing(file, report);
    std::fputs(text.c_str(), report_to);

    if (!options.extract) return {report.valid() ? kValid : kInvalid, true};
    if (!report.valid()) {
        complain(file, "not extracted: the file has problems");
        return {kInvalid, true};
    }
    if (!extraction_commit(extraction, chunk, error)) return {complain(extraction.raw, error), true};
    return {kValid, true};
}

int run(const Options& options) {
    std::vector<uint8_t> chunk(kChunkSize);
    // With the image on standard output, the report goes to standard error.
    FILE* report_to = options.extract == "-" ? stderr : stdout;
    int status = kValid;
    bool reported = false;
    for (const std::string& file : options.files) {
        Checked checked = check_file(options, file, chunk, report_to, reported);
        status = std::max(status, checked.status);
        reported = reported || checked.reported;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    process_setup();
    int status = kValid;
    try {
        Options options;
        if (parse_arguments(argc, argv, options, status)) status = run(options);
    } catch (const std::exception& e) {
        // Only resources can run out here (memory): a partial RAW is removed.
        cleanup_now();
        status = complain("out of resources", e.what());
    }
    // The report, the help and the version are the result: losing them fails the run.
    std::string error;
    if (!stdout_flushed(error)) return complain("standard output", error);
    return status;
}
