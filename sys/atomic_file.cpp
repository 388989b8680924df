// The atomic output file's steps that are the same on every system; making
// the temporary file is the platform's (atomic_file_*.cpp).
#include "sys/atomic_file.h"

#include "sys/file_io.h"
#include "sys/signals.h"

bool output_write(AtomicFile& out, const uint8_t* data, size_t size, std::string& error) {
    return file_write_all(out.fd, data, size, error);
}

bool output_write_at(AtomicFile& out, uint64_t offset, const uint8_t* data, size_t size, std::string& error) {
    return file_seek(out.fd, offset, error) && file_write_all(out.fd, data, size, error);
}

bool output_close(AtomicFile& out, std::string& error) { return file_close_checked(out.fd, error); }

bool output_rename(AtomicFile& out, std::string& error) {
    SignalHold hold;
    if (!path_replace(out.temp_path, out.path, error)) return false;
    cleanup_forget_file();
    out.temp_path.clear();
    return true;
}

void output_abandon(AtomicFile& out) {
    file_close(out.fd);
    if (out.temp_path.empty()) return;
    SignalHold hold;
    path_remove(out.temp_path);
    cleanup_forget_file();
    out.temp_path.clear();
}

AtomicFile::~AtomicFile() { output_abandon(*this); }
