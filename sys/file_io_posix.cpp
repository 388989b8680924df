#include "sys/descriptor.h"
#include "sys/file_stamp.h"
#include "sys/input_file.h"
#include "sys/standard_output.h"
#include "sys/system_paths.h"
#include "sys/temp_file.h"
#include "text/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sys/stamp_posix.h"

namespace {

bool stamp_fd(int fd, FileStamp& stamp, std::string& error) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    stamp = stamp_of(st);
    return true;
}

}  // namespace

FileStamp stamp_of(const struct stat& st) {
    FileStamp stamp;
    stamp.device = static_cast<uint64_t>(st.st_dev);
    stamp.inode = static_cast<uint64_t>(st.st_ino);
    stamp.kind = S_ISREG(st.st_mode)                          ? FileKind::regular
                 : S_ISDIR(st.st_mode)                        ? FileKind::directory
                 : S_ISFIFO(st.st_mode)                       ? FileKind::fifo
                 : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? FileKind::device
                                                              : FileKind::other;
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
    stamp.permissions = static_cast<uint32_t>(st.st_mode & 0777);
    return stamp;
}

void Descriptor::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool Descriptor::close(std::string& error) {
    int closing = release();
    if (::close(closing) == 0) return true;
    error = std::strerror(errno);
    return false;
}

PathStyle host_path_style() { return PathStyle::posix; }

bool fd_read_some(int fd, uint8_t* data, size_t size, size_t& got, std::string& error) {
    ssize_t n;
    while ((n = read(fd, data, size)) < 0 && errno == EINTR) {
    }
    if (n < 0) {
        error = std::strerror(errno);
        return false;
    }
    got = static_cast<size_t>(n);
    return true;
}

bool fd_write_some(int fd, const uint8_t* data, size_t size, size_t& wrote, std::string& error) {
    ssize_t n;
    while ((n = write(fd, data, size)) < 0 && errno == EINTR) {
    }
    if (n < 0) {
        error = std::strerror(errno);
        return false;
    }
    wrote = static_cast<size_t>(n);
    return true;
}

bool file_stamp(const Descriptor& fd, FileStamp& stamp, std::string& error) { return stamp_fd(fd.get(), stamp, error); }

bool InputFile::open(const std::string& path, FifoOpen fifo, std::string& error) {
    int wait = fifo == FifoOpen::no_wait ? O_NONBLOCK : 0;
    Descriptor fd(::open(path.c_str(), O_RDONLY | wait | O_NOCTTY | O_CLOEXEC));
    if (!fd.is_open()) {
        error = std::strerror(errno);
        return false;
    }
    if (!stamp_fd(fd.get(), stamp_, error)) return false;
    // Reads block as usual from here on.
    if (wait != 0) fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
    posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // only advice: larger read-ahead
#endif
    fd_ = std::move(fd);
    return true;
}

bool InputFile::open_standard_input(std::string& error) {
    Descriptor fd(fcntl(0, F_DUPFD_CLOEXEC, 3));
    if (!fd.is_open()) {
        error = std::strerror(errno);
        return false;
    }
    if (!stamp_fd(fd.get(), stamp_, error)) return false;
    stamp_.kind = FileKind::other;  // what it gives, not its size, tells how long it is
    fd_ = std::move(fd);
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

bool file_seek(const Descriptor& fd, uint64_t offset, std::string& error) {
    if (lseek(fd.get(), static_cast<off_t>(offset), SEEK_SET) >= 0) return true;
    error = std::strerror(errno);
    return false;
}

bool unnamed_temp_file(const std::string& prefix, Descriptor& fd, std::string& where, std::string& error) {
    const char* tmpdir = std::getenv("TMPDIR");
    where = tmpdir != nullptr && *tmpdir ? tmpdir : "/tmp";
    // Linux makes one unnamed; elsewhere, or where the file system cannot, it
    // is named and unlinked at once.
#ifdef O_TMPFILE
    fd = Descriptor(open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd.is_open()) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = std::strerror(errno);
        return false;
    }
#endif
    std::string name = where + "/." + prefix + ".XXXXXX";
    fd = Descriptor(mkstemp(name.data()));
    if (!fd.is_open()) {
        error = std::strerror(errno);
        return false;
    }
    unlink(name.c_str());
    fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
    return true;
}

std::string system_directory_of(const std::string& directory) {
    char* real = realpath(directory.empty() ? "." : directory.c_str(), nullptr);
    if (real == nullptr) return "";
    std::string resolved = real;
    std::free(real);
    return system_directory_named(resolved);
}

std::string link_system_directory(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return "";
    std::vector<char> target(PATH_MAX);
    ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) return "";
    std::string to(target.data(), static_cast<size_t>(n));
    // A relative target is taken from the link's own directory.
    if (to[0] != '/') to = split_path(path, PathStyle::posix).directory + to;
    return system_directory_of(split_path(to, PathStyle::posix).directory);
}

bool stdout_is(const FileStamp& stamp) {
    FileStamp out;
    std::string ignored;
    return stamp_fd(kStandardOutput, out, ignored) && out.kind == FileKind::regular && same_file(out, stamp);
}
