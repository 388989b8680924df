// The file steps that are the same on every system, built on the platform's
// file_stamp, input_open and reads.
#include "sys/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool same_file(const FileStamp& a, const FileStamp& b) { return a.device == b.device && a.inode == b.inode; }

bool input_reopen(const InputFile& in, const std::string& path, int& fd, std::string& error) {
    InputFile again;
    if (!input_open(path, FifoOpen::no_wait, again, error)) return false;
    if (!same_file(again.stamp, in.stamp)) {
        error = "file changed while it was read";
        return false;
    }
    fd = again.fd;
    again.fd = -1;  // now the caller's
    return true;
}

InputFile::~InputFile() { file_close(fd); }

bool input_read_whole(const InputFile& in, std::string& error) {
    uint8_t probe;
    size_t more;
    if (!file_read_up_to(in.fd, &probe, 1, more, error)) return false;
    if (more == 0) return input_unchanged(in, error);
    // More than the size: a file that grew, or one whose size does not tell
    // its content (as in /proc).
    FileStamp now;
    bool grew = !file_stamp(in.fd, now, error) || now.size != in.stamp.size;
    error = grew ? "file changed size while it was read" : "file holds more than its size says";
    return false;
}

bool input_unchanged(const InputFile& in, std::string& error) {
    FileStamp now;
    if (!file_stamp(in.fd, now, error)) return false;
    if (now.size != in.stamp.size) {
        error = "file changed size while it was read";
        return false;
    }
    if (now.mtime_s != in.stamp.mtime_s || now.mtime_ns != in.stamp.mtime_ns || now.ctime_s != in.stamp.ctime_s ||
        now.ctime_ns != in.stamp.ctime_ns) {
        error = "file changed while it was read";
        return false;
    }
    return true;
}

bool file_read_exact(int fd, uint8_t* data, size_t size, std::string& error) {
    size_t done;
    if (!file_read_up_to(fd, data, size, done, error)) return false;
    if (done < size) {
        error = "file is shorter than its size";
        return false;
    }
    return true;
}

bool stdout_flushed(std::string& error) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    error = std::strerror(errno);
    return false;
}

bool stdout_write_all(const uint8_t* data, size_t size, std::string& error) {
    return file_write_all(1, data, size, error);  // descriptor 1: standard output
}
