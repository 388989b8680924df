#include "info/extraction.h"

#include "sys/standard_output.h"
#include "sys/temp_file.h"

bool Extraction::begin(const FileArg& raw, const InputFile& input, std::string& subject, std::string& error) {
    raw_ = raw;
    subject = raw.path;
    if (raw.standard) {
        if (stdout_is(input.stamp())) {
            error = "standard output is the input file";
            return false;
        }
        if (unnamed_temp_file("ota_info", held_, subject, error)) return true;
        error = "temporary directory: " + error;
        return false;
    }
    FileStamp raw_stamp;
    std::string ignored;  // a RAW that does not exist yet is no refusal
    if (path_stamp(raw.path, true, raw_stamp, ignored) && same_file(raw_stamp, input.stamp())) {
        error = "is the input file";
        return false;
    }
    std::string system = link_system_directory(raw.path);
    if (!system.empty()) {
        error = "is a symbolic link into " + system + ", not replaced";
        return false;
    }
    return file_.begin(raw.path, error);
}

void Extraction::write(const uint8_t* data, size_t size) {
    if (failed_) return;
    bool written = raw_.standard ? file_write_all(held_, data, size, error_) : file_.write(data, size, error_);
    failed_ = !written;
}

bool Extraction::commit(std::vector<uint8_t>& chunk, std::string& subject, std::string& error) {
    subject = raw_.path;
    if (failed_) {
        error = error_;
        return false;
    }
    if (!raw_.standard) return file_.commit(error) == AtomicFile::Commit::done;
    if (!file_seek(held_, 0, error)) return false;
    for (;;) {
        size_t got;
        if (!file_read_up_to(held_, chunk.data(), chunk.size(), got, error)) return false;
        if (got == 0) return true;
        if (!stdout_write_all(chunk.data(), got, error)) return false;
    }
}
