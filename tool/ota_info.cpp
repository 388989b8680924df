// ota_info [options] FILE...: lists and verifies OTA files, and gives back
// the raw image of one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "format/ota_verify.h"
#include "tool/diagnostic.h"
#include "tool/file_io.h"
#include "tool/ota_info_print.h"
#include "tool/output_file.h"
#include "tool/process_setup.h"

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
    "  --max-size SIZE   a file larger than SIZE bytes is a problem; SIZE is decimal,\n"
    "                    0x hexadecimal, or either with a KiB or MiB suffix\n"
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

// "4096", "0x1000", "4KiB", "0x10 MiB".
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
    unsigned shift = suffix.empty() ? 0 : suffix == "KiB" ? 10 : suffix == "MiB" ? 20 : 64;
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
            options.extract = argv[++i];
        } else if (option && arg == "--max-size") {
            uint64_t size;
            if (!has_value || !parse_size(argv[i + 1], size)) {
                status = complain(arg, "needs a size: bytes, 0x hexadecimal, KiB or MiB");
                return false;
            }
            options.max_size = size;
            i++;
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
struct Extraction {
    std::string raw;
    OutputFile out;  // RAW
    int held = -1;   // standard output's unnamed file
    bool failed = false;
    std::string error;
};

int extraction_fd(const Extraction& x) { return x.held >= 0 ? x.held : x.out.fd; }

bool extraction_begin(Extraction& x, std::string& error) {
    if (x.raw != "-") return output_begin(x.raw, x.out, error);
    const char* dir = std::getenv("TMPDIR");
    x.held = open(dir != nullptr && *dir ? dir : "/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (x.held < 0) error = std::strerror(errno);
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
    if (lseek(x.held, 0, SEEK_SET) != 0) {
        error = std::strerror(errno);
        return false;
    }
    for (;;) {
        size_t got;
        if (!file_read_up_to(x.held, chunk.data(), chunk.size(), got, error)) return false;
        if (got == 0) return true;
        if (!file_write_all(STDOUT_FILENO, chunk.data(), got, error)) return false;
    }
}

void extraction_abandon(Extraction& x) {
    output_abandon(x.out);
    file_close(x.held);
}

// Checks one file; prints its report to `report_to`. Returns its status.
int check_file(const Options& options, const std::string& file, std::vector<uint8_t>& chunk, FILE* report_to,
               bool first) {
    std::string error;
    InputFile in;
    if (!input_open(file, in, error)) return complain(file, error);
    if (S_ISDIR(in.st.st_mode)) {
        file_close(in.fd);
        return complain(file, std::strerror(EISDIR));
    }
    Extraction extraction;
    ByteSink sink;
    if (options.extract) {
        extraction.raw = *options.extract;
        if (!extraction_begin(extraction, error)) {
            file_close(in.fd);
            return complain(extraction.raw, error);
        }
        sink = [&extraction](const uint8_t* data, size_t size) { extraction_write(extraction, data, size); };
    }
    OtaVerifyLimits limits;
    limits.max_file_size = options.max_size;
    OtaVerify verify;
    ota_verify_begin(verify, limits, sink);
    bool read_ok = true;
    for (uint64_t wanted; read_ok && (wanted = ota_verify_wanted(verify)) > 0;) {
        size_t got;
        read_ok = file_read_up_to(in.fd, chunk.data(), std::min<uint64_t>(wanted, chunk.size()), got, error);
        if (got == 0) break;
        ota_verify_feed(verify, chunk.data(), got);
    }
    file_close(in.fd);
    if (!read_ok) {
        extraction_abandon(extraction);
        return complain(file, error);
    }
    uint64_t file_size = S_ISREG(in.st.st_mode) ? static_cast<uint64_t>(in.st.st_size) : verify.fed;
    ota_verify_end(verify, file_size);

    const OtaReport& report = verify.report;
    if (!options.json && !first) std::fputs("\n", report_to);
    std::string text = options.json ? ota_json(file, report) : ota_listing(file, report);
    std::fputs(text.c_str(), report_to);

    if (!options.extract) return report.valid() ? kValid : kInvalid;
    if (!report.valid()) {
        extraction_abandon(extraction);
        complain(file, "not extracted: the file has problems");
        return kInvalid;
    }
    bool committed = extraction_commit(extraction, chunk, error);
    extraction_abandon(extraction);
    if (!committed) return complain(extraction.raw, error);
    return kValid;
}

int run(const Options& options) {
    std::vector<uint8_t> chunk(kChunkSize);
    // With the image on standard output, the report goes to standard error.
    FILE* report_to = options.extract == "-" ? stderr : stdout;
    int status = kValid;
    for (size_t i = 0; i < options.files.size(); i++) {
        status = std::max(status, check_file(options, options.files[i], chunk, report_to, i == 0));
    }
    std::string error;
    if (!stdout_flushed(error)) return complain("standard output", error);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    process_setup();
    Options options;
    int status = kValid;
    if (!parse_arguments(argc, argv, options, status)) return status;
    return run(options);
}
