#include "tool/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool/signal_cleanup.h"

bool file_size(const std::string& path, uint64_t& size, std::string& error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool file_open_read(const std::string& path, int& fd, std::string& error) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
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

void file_close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool output_create(const std::string& path, OutputFile& out, std::string& error) {
    out.path = path;
    out.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out.fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st;
    out.remove_on_failure = fstat(out.fd, &st) == 0 && S_ISREG(st.st_mode);
    if (out.remove_on_failure) remove_on_signal(out.path);
    return true;
}

static bool write_all(int fd, const uint8_t* data, size_t size, std::string& error) {
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

bool output_write_close(OutputFile& out, const uint8_t* data, size_t size, std::string& error) {
    if (!write_all(out.fd, data, size, error)) {
        output_discard(out);
        return false;
    }
    int fd = out.fd;
    out.fd = -1;
    if (close(fd) != 0) {
        error = std::strerror(errno);
        output_discard(out);
        return false;
    }
    if (out.remove_on_failure) keep_on_signal(out.path);
    out.remove_on_failure = false;
    return true;
}

void output_discard(OutputFile& out) {
    file_close(out.fd);
    if (out.remove_on_failure) {
        unlink(out.path.c_str());
        keep_on_signal(out.path);
    }
    out.remove_on_failure = false;
}
