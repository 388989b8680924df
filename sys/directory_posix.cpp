#include "sys/directory.h"

#include "sys/descriptor.h"
#include "sys/file_stamp.h"
#include "sys/system_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sys/stamp_posix.h"

namespace {

bool same_inode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Writes a file's data (or a directory's names) through to the disk. On
// macOS fsync reaches only the drive's cache; F_FULLFSYNC asks the drive to
// write it, and a file system that cannot is asked for fsync instead.
int sync_to_disk(int fd, bool data_only) {
#ifdef F_FULLFSYNC
    (void)data_only;
    if (fcntl(fd, F_FULLFSYNC) == 0) return 0;
    return fsync(fd);
#elif defined(_POSIX_SYNCHRONIZED_IO) && _POSIX_SYNCHRONIZED_IO > 0
    return data_only ? fdatasync(fd) : fsync(fd);  // the data and the size; the times can wait
#else
    (void)data_only;
    return fsync(fd);
#endif
}

}  // namespace

bool Directory::open(const std::string& path, std::string& error) {
    path_ = path.empty() ? "." : path;
    // Read access lets the directory be synced after a rename; a directory
    // one may write in but not list is held by path alone (O_PATH).
    Descriptor fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#ifdef O_PATH
    if (!fd.is_open() && errno == EACCES) fd = Descriptor(::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
#endif
    if (!fd.is_open()) {
        error = std::strerror(errno);
        return false;
    }
    // Where it is, checked to be the directory held: a link re-pointed in
    // between cannot make a system directory look like another.
    char* real = realpath(path_.c_str(), nullptr);
    if (real == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    struct stat held, named;
    bool same = fstat(fd.get(), &held) == 0 && stat(real, &named) == 0 && same_inode(held, named);
    resolved_ = real;
    std::free(real);
    if (!same) {
        error = "the directory changed while it was opened";
        return false;
    }
    fd_ = std::move(fd);
    return true;
}

Directory::Found Directory::stamp(const std::string& name, FileStamp& stamp, std::string& error) const {
    struct stat st;
    if (fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return Found::no;
        error = std::strerror(errno);
        return Found::failed;
    }
    // A symbolic link is replaced itself; what it points to tells the rest,
    // and a dangling one is as a free name.
    if (S_ISLNK(st.st_mode) && fstatat(fd_.get(), name.c_str(), &st, 0) != 0) return Found::no;
    stamp = stamp_of(st);
    return Found::yes;
}

std::string Directory::system_directory() const {
    std::string named = system_directory_named(resolved_);
    if (!named.empty()) return named;
    // By device, only where /dev or /proc is a file system of its own: in a
    // chroot without them mounted, their device is the root's, as is every
    // other directory's.
    struct stat here, root, system;
    if (fstat(fd_.get(), &here) != 0 || stat("/", &root) != 0) return "";
    for (const char* directory : {"/dev", "/proc"}) {
        if (stat(directory, &system) == 0 && system.st_dev != root.st_dev && system.st_dev == here.st_dev)
            return directory;
    }
    return "";
}

bool Directory::own_regular_file(const std::string& name) const {
    struct stat st;
    return fstatat(fd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           st.st_uid == geteuid();
}

Directory::Made Directory::create_new(const std::string& name, Descriptor& fd, std::string& error) const {
    fd = Descriptor(openat(fd_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.is_open()) return Made::made;
    if (errno == EEXIST) return Made::exists;
    error = std::strerror(errno);
    return Made::failed;
}

// A POSIX file has no mark to clear: it stays until it is removed.
bool Directory::keep(const Descriptor&, std::string&) const { return true; }

bool Directory::rename(const std::string& from, const std::string& to, std::string& error) const {
    if (renameat(fd_.get(), from.c_str(), fd_.get(), to.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool Directory::sync(std::string& error) const {
    // A file system that does not sync directories says EINVAL: it keeps the
    // name in memory until the system writes it, and that is no failure.
    if (sync_to_disk(fd_.get(), false) == 0 || errno == EINVAL) return true;
    error = std::string("the new name cannot be written to the disk: ") + std::strerror(errno);
    return false;
}

void Directory::remove(const std::string& name) const { unlinkat(fd_.get(), name.c_str(), 0); }

uint32_t new_file_permissions() {
    mode_t mask = umask(0);  // read only by setting; set back at once
    umask(mask);
    return 0666 & ~static_cast<uint32_t>(mask);
}

bool file_set_permissions(const Descriptor& fd, uint32_t permissions, std::string& error) {
    if (fchmod(fd.get(), static_cast<mode_t>(permissions)) == 0) return true;
    error = std::strerror(errno);
    return false;
}

bool file_sync(const Descriptor& fd, std::string& error) {
    if (sync_to_disk(fd.get(), true) == 0) return true;
    error = std::strerror(errno);
    return false;
}
