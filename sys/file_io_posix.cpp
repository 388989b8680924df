#include "sys/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool input_open(const std::string& path, FifoOpen fifo, InputFile& in, std::string& error) {
    int wait = fifo == FifoOpen::no_wait ? O_NONBLOCK : 0;
    in.fd = open(path.c_str(), O_RDONLY | wait | O_NOCTTY | O_CLOEXEC);
    if (in.fd < 0 || fstat(in.fd, &in.st) != 0) {
        error = std::strerror(errno);
        file_close(in.fd);
        return false;
    }
    // Reads block as usual from here on.
    if (wait != 0) fcntl(in.fd, F_SETFL, fcntl(in.fd, F_GETFL) & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // only advice: larger read-ahead
#endif
    return true;
}

bool input_reopen(const InputFile& in, const std::string& path, int& fd, std::string& error) {
    InputFile again;
    if (!input_open(path, FifoOpen::no_wait, again, error)) return false;
    if (again.st.st_dev != in.st.st_dev || again.st.st_ino != in.st.st_ino) {
        file_close(again.fd);
        error = "file changed while it was read";
        return false;
    }
    fd = again.fd;
    again.fd = -1;  // now the caller's
    return true;
}

InputFile::~InputFile() { file_close(fd); }

bool path_size(const std::string& path, uint64_t& size, std::string& error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

static bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The modification and status change times, to the nanosecond where the
// system keeps them.
static bool same_times(const struct stat& a, const struct stat& b) {
#ifdef __APPLE__
    return same_time(a.st_mtimespec, b.st_mtimespec) && same_time(a.st_ctimespec, b.st_ctimespec);
#else
    return same_time(a.st_mtim, b.st_mtim) && same_time(a.st_ctim, b.st_ctim);
#endif
}

bool input_read_whole(const InputFile& in, std::string& error) {
    uint8_t probe;
    size_t more;
    if (!file_read_up_to(in.fd, &probe, 1, more, error)) return false;
    if (more == 0) return input_unchanged(in, error);
    // More than the size: a file that grew, or one whose size does not tell
    // its content (as in /proc).
    struct stat now;
    bool grew = fstat(in.fd, &now) != 0 || now.st_size != in.st.st_size;
    error = grew ? "file changed size while it was read" : "file holds more than its size says";
    return false;
}

bool input_unchanged(const InputFile& in, std::string& error) {
    struct stat now;
    if (fstat(in.fd, &now) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (now.st_size != in.st.st_size) {
        error = "file changed size while it was read";
        return false;
    }
    if (!same_times(now, in.st)) {
        error = "file changed while it was read";
        return false;
    }
    return true;
}

bool file_read_up_to(int fd, uint8_t* data, size_t size, size_t& done, std::string& error) {
    done = 0;
    while (done < size) {
        ssize_t n = read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
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

bool file_write_all(int fd, const uint8_t* data, size_t size, std::string& error) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "write made no progress";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool stdout_flushed(std::string& error) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    error = std::strerror(errno);
    return false;
}

void file_close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}
