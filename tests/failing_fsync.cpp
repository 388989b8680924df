// Loaded into a tool through LD_PRELOAD: fsync of a directory fails with
// EIO, as on a failing disk, so that a test sees the failure told. A file's
// own sync (fdatasync) is left alone.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

extern "C" int fsync(int fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}
