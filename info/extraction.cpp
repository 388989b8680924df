#include "info/extraction.h"

namespace {

int extraction_fd(const Extraction& x) { return x.held >= 0 ? x.held : x.out.fd; }

}  // namespace

bool extraction_begin(Extraction& x, std::string& error) {
    if (x.raw != "-") return output_begin(x.raw, x.out, error);
    x.held = unnamed_temp_file(error);
    return x.held >= 0;
}

void extraction_write(Extraction& x, const uint8_t* data, size_t size) {
    if (!x.failed && !file_write_all(extraction_fd(x), data, size, x.error)) x.failed = true;
}

bool extraction_commit(Extraction& x, std::vector<uint8_t>& chunk, std::string& error) {
    if (x.failed) {
        error = x.error;
        return false;
    }
    if (x.held < 0) return output_close(x.out, error) && output_rename(x.out, error);
    if (!file_seek(x.held, 0, error)) return false;
    for (;;) {
        size_t got;
        if (!file_read_up_to(x.held, chunk.data(), chunk.size(), got, error)) return false;
        if (got == 0) return true;
        if (!stdout_write_all(chunk.data(), got, error)) return false;
    }
}

std::string extraction_refusal(const std::string& raw, const InputFile& in) {
    FileStamp raw_stamp;
    std::string ignored;  // a RAW that does not exist yet is no refusal
    if (path_stamp(raw, true, raw_stamp, ignored) && same_file(raw_stamp, in.stamp)) return "is the input file";
    std::string system = path_links_into_system(raw);
    if (!system.empty()) return "is a symbolic link into " + system + ", not replaced";
    return "";
}
