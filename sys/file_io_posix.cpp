#include "sys/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

FileStamp stamp_of(const struct stat& st) {
    FileStamp stamp;
    stamp.device = static_cast<uint64_t>(st.st_dev);
    stamp.inode = static_cast<uint64_t>(st.st_ino);
    stamp.kind = S_ISREG(st.st_mode) ? FileKind::regular : S_ISDIR(st.st_mode) ? FileKind::directory : FileKind::other;
    stamp.size = static_cast<uint64_t>(st.st_size);
    // The modification and status change times, to the nanosecond where the
    // system keeps them.
#ifdef __APPLE__
    stamp.mtime_s = st.st_mtimespec.tv_sec, stamp.mtime_ns = st.st_mtimespec.tv_nsec;
    stamp.ctime_s = st.st_ctimespec.tv_sec, stamp.ctime_ns = st.st_ctimespec.tv_nsec;
#else
    stamp.mtime_s = st.st_mtim.tv_sec, stamp.mtime_ns = st.st_mtim.tv_nsec;
    stamp.ctime_s = st.st_ctim.tv_sec, stamp.ctime_ns = st.st_ctim.tv_nsec;
#endif
    return stamp;
}

}  // namespace

bool file_stamp(int fd, FileStamp& stamp, std::string& error) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    stamp = stamp_of(st);
    return true;
}

bool input_open(const std::string& path, FifoOpen fifo, InputFile& in, std::string& error) {
    int wait = fifo == FifoOpen::no_wait ? O_NONBLOCK : 0;
    in.fd = open(path.c_str(), O_RDONLY | wait | O_NOCTTY | O_CLOEXEC);
    if (in.fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!file_stamp(in.fd, in.stamp, error)) {
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

bool path_stamp(const std::string& path, bool follow_links, FileStamp& stamp, std::string& error) {
    struct stat st;
    if ((follow_links ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) {
        error = std::strerror(errno);
        return false;
    }
    stamp = stamp_of(st);
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

void file_close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool file_close_checked(int& fd, std::string& error) {
    int closing = fd;
    fd = -1;
    if (close(closing) == 0) return true;
    error = std::strerror(errno);
    return false;
}

bool file_seek(int fd, uint64_t offset, std::string& error) {
    if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0) return true;
    error = std::strerror(errno);
    return false;
}

bool path_replace(const std::string& from, const std::string& to, std::string& error) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    error = std::strerror(errno);
    return false;
}

void path_remove(const std::string& path) { unlink(path.c_str()); }

int unnamed_temp_file(std::string& error) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string dir = tmpdir != nullptr && *tmpdir ? tmpdir : "/tmp";
    // Linux makes one unnamed; elsewhere, or where the file system cannot, it
    // is named and unlinked at once.
#ifdef O_TMPFILE
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = std::strerror(errno);
        return -1;
    }
#endif
    std::string name = dir + "/.ota_info.XXXXXX";
    int named = mkstemp(name.data());
    if (named < 0) {
        error = std::strerror(errno);
        return -1;
    }
    unlink(name.c_str());
    fcntl(named, F_SETFD, FD_CLOEXEC);
    return named;
}

std::string path_links_into_system(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return "";
    std::vector<char> target(PATH_MAX);
    ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) return "";
    std::string to(target.data(), static_cast<size_t>(n));
    if (to[0] != '/') to = (path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/'))) + "/" + to;
    std::string dir = to.substr(0, to.rfind('/'));
    if (char* real = realpath(dir.empty() ? "/" : dir.c_str(), nullptr)) {
        dir = real;
        std::free(real);
    }
    for (const char* system : {"/dev", "/proc"}) {
        if (dir == system || dir.starts_with(std::string(system) + "/")) return system;
    }
    return "";
}
