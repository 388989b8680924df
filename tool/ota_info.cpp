// ota_info [--json] [--extract RAW] FILE: lists and verifies an OTA file,
// and gives back the raw image.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "format/ota_header.h"
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

const char kUsage[] =
    "usage: ota_info [--json] [--extract RAW] FILE\n"
    "Lists and verifies an OTA file made by image_gen_header.\n"
    "\n"
    "  --json         print one JSON object instead of the listing\n"
    "  --extract RAW  write the raw image (decoded for image_compress) to RAW,\n"
    "                 only when every check passes\n"
    "  --help         print this help\n"
    "  --version      print the version\n"
    "\n"
    "Exit status: 0 valid, 1 a check failed, 2 usage error or unreadable file.\n";

struct Options {
    bool json = false;
    std::string extract;  // empty: no extraction
    std::string file;
};

int complain(const std::string& subject, const std::string& what) {
    diagnose("ota_info", subject, what);
    return kTrouble;
}

// Fills `options`; on a usage error prints it and returns false with `status` set.
bool parse_arguments(int argc, char** argv, Options& options, int& status) {
    bool have_file = false;
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (!options_done && arg == "--") {
            options_done = true;
        } else if (!options_done && arg == "--help") {
            std::fputs(kUsage, stdout);
            status = kValid;
            return false;
        } else if (!options_done && arg == "--version") {
            std::printf("ota_info %s\n", OTA_VERSION);
            status = kValid;
            return false;
        } else if (!options_done && arg == "--json") {
            options.json = true;
        } else if (!options_done && arg == "--extract") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                status = complain("--extract", "needs a file name");
                return false;
            }
            options.extract = argv[++i];
        } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
            status = complain(arg, "unknown option (see ota_info --help)");
            return false;
        } else if (have_file) {
            status = complain(arg, "only one FILE at a time (see ota_info --help)");
            return false;
        } else {
            options.file = arg;
            have_file = true;
        }
    }
    if (!have_file) {
        status = complain("usage", "ota_info [--json] [--extract RAW] FILE (see ota_info --help)");
        return false;
    }
    return true;
}

// Reads up to `want` more bytes onto `data`, a chunk at a time so that memory
// follows what the file holds; stops early only at end of file.
bool read_more(int fd, std::vector<uint8_t>& data, uint64_t want, std::string& error) {
    constexpr size_t kChunk = size_t{1} << 20;
    while (want > 0) {
        size_t step = static_cast<size_t>(std::min<uint64_t>(want, kChunk));
        size_t old = data.size();
        data.resize(old + step);
        size_t got;
        bool ok = file_read_up_to(fd, data.data() + old, step, got, error);
        data.resize(old + got);
        if (!ok || got < step) return ok;
        want -= got;
    }
    return true;
}

// Reads the header and at most payload_size bytes after it: memory follows
// what the file really holds, never more than the format can describe.
// `file_size` is the file's whole length.
bool read_ota_file(const std::string& path, std::vector<uint8_t>& data, uint64_t& file_size, std::string& error) {
    InputFile in;
    if (!input_open(path, in, error)) return false;
    int fd = in.fd;
    const struct stat& st = in.st;
    bool ok = true;
    if (S_ISDIR(st.st_mode)) {
        error = std::strerror(EISDIR);
        ok = false;
    }
    ok = ok && read_more(fd, data, kOtaHeaderSize, error);
    if (ok && data.size() == kOtaHeaderSize) {
        uint64_t payload_size = ota_load_le32(data.data() + kOtaPayloadSize);
        if (S_ISREG(st.st_mode)) data.reserve(kOtaHeaderSize + std::min<uint64_t>(payload_size, st.st_size));
        ok = read_more(fd, data, payload_size, error);
    }
    std::vector<uint8_t> probe;
    ok = ok && read_more(fd, probe, 1, error);  // anything past the payload?
    file_close(fd);
    if (!ok) return false;
    file_size = data.size() + probe.size();
    if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > file_size) file_size = static_cast<uint64_t>(st.st_size);
    return true;
}

int run(const Options& options) {
    std::vector<uint8_t> data;
    uint64_t file_size = 0;
    std::string error;
    if (!read_ota_file(options.file, data, file_size, error)) return complain(options.file, error);

    OtaImage image;
    OtaReport report = ota_verify(data.data(), data.size(), file_size, OtaVerifyLimits{},
                                  options.extract.empty() ? nullptr : &image);
    std::string text = options.json ? ota_json(options.file, report) : ota_listing(options.file, report);
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0) return complain("standard output", std::strerror(errno));

    if (!report.valid()) {
        if (!options.extract.empty()) complain(options.file, "not extracted: the file has problems");
        return kInvalid;
    }
    if (!options.extract.empty()) {
        OutputFile out;
        if (!output_begin(options.extract, out, error) || !output_write(out, image.data, image.size, error) ||
            !output_close(out, error) || !output_rename(out, error)) {
            output_abandon(out);
            return complain(options.extract, error);
        }
    }
    return kValid;
}

}  // namespace

int main(int argc, char** argv) {
    process_setup();
    Options options;
    int status = kValid;
    if (!parse_arguments(argc, argv, options, status)) return status;
    try {
        return run(options);
    } catch (const std::bad_alloc&) {
        return complain(options.file, "out of memory");
    }
}
