// The file steps that are the same on every system, built on the platform's
// primitives (file_io_*.cpp).
#include "sys/descriptor.h"
#include "sys/file_stamp.h"
#include "sys/input_file.h"
#include "sys/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool read_up_to(int fd, uint8_t* data, size_t size, size_t& done, std::string& error) {
    done = 0;
    while (done < size) {
        size_t got;
        if (!fd_read_some(fd, data + done, size - done, got, error)) return false;
        if (got == 0) break;
        done += got;
    }
    return true;
}

bool write_all(int fd, const uint8_t* data, size_t size, std::string& error) {
    for (size_t done = 0; done < size;) {
        size_t wrote;
        if (!fd_write_some(fd, data + done, size - done, wrote, error)) return false;
        if (wrote == 0) {
            error = "write made no progress";
            return false;
        }
        done += wrote;
    }
    return true;
}

}  // namespace

bool same_file(const FileStamp& a, const FileStamp& b) { return a.device == b.device && a.inode == b.inode; }

const char* file_kind_name(FileKind kind) {
    switch (kind) {
        case FileKind::regular: return "a regular file";
        case FileKind::directory: return "Is a directory";
        case FileKind::fifo: return "is a FIFO, not a regular file";
        case FileKind::device: return "is a device, not a regular file";
        case FileKind::other: break;
    }
    return "not a regular file";
}

bool InputFile::read_up_to(uint8_t* data, size_t size, size_t& done, std::string& error) {
    return ::read_up_to(fd_.get(), data, size, done, error);
}

bool InputFile::read_exact(uint8_t* data, size_t size, std::string& error) {
    size_t done;
    if (!read_up_to(data, size, done, error)) return false;
    if (done < size) {
        error = "file is shorter than its size";
        return false;
    }
    return true;
}

bool InputFile::read_whole(std::string& error) {
    uint8_t probe;
    size_t more;
    if (!read_up_to(&probe, 1, more, error)) return false;
    if (more == 0) return unchanged(error);
    // More than the size: a file that grew, or one whose size does not tell
    // its content (as in /proc).
    FileStamp now;
    bool grew = !file_stamp(fd_, now, error) || now.size != stamp_.size;
    error = grew ? "file changed size while it was read" : "file holds more than its size says";
    return false;
}

bool InputFile::unchanged(std::string& error) const {
    FileStamp now;
    if (!file_stamp(fd_, now, error)) return false;
    if (now.size != stamp_.size) {
        error = "file changed size while it was read";
        return false;
    }
    if (now.mtime_s != stamp_.mtime_s || now.mtime_ns != stamp_.mtime_ns || now.ctime_s != stamp_.ctime_s ||
        now.ctime_ns != stamp_.ctime_ns) {
        error = "file changed while it was read";
        return false;
    }
    return true;
}

bool InputFile::reopen(const std::string& path, Descriptor& again, std::string& error) const {
    InputFile other;
    if (!other.open(path, FifoOpen::no_wait, error)) return false;
    if (!same_file(other.stamp_, stamp_)) {
        error = "file changed while it was read";
        return false;
    }
    again = std::move(other.fd_);
    return true;
}

bool file_read_up_to(const Descriptor& fd, uint8_t* data, size_t size, size_t& done, std::string& error) {
    return read_up_to(fd.get(), data, size, done, error);
}

bool file_write_all(const Descriptor& fd, const uint8_t* data, size_t size, std::string& error) {
    return write_all(fd.get(), data, size, error);
}

bool stdout_write_all(const uint8_t* data, size_t size, std::string& error) {
    return write_all(kStandardOutput, data, size, error);
}

bool stdout_flushed(std::string& error) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    error = std::strerror(errno);
    return false;
}
