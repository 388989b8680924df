#include "sys/atomic_file.h"

#include <fcntl.h>
#ifdef __APPLE__
#include <sys/random.h>  // getentropy
#endif
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "sys/signals.h"
#include "sys/file_io.h"

namespace {

// The permission bits the new file takes over, if it replaces a regular file.
bool replaced_mode(const std::string& path, mode_t& mode, bool& replaces, std::string& error) {
    replaces = false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        error = std::strerror(errno);
        return false;
    }
    // A symbolic link is replaced itself; what it points to tells the mode.
    if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0) return true;  // dangling
    if (S_ISDIR(st.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    mode = st.st_mode & 0777;
    replaces = true;
    return true;
}

// ".NAME.XXXXXX" beside NAME, with six random letters and digits; NAME is cut
// so that the whole stays within a file name's limit.
std::string temp_name(const std::string& path) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    base = base.substr(0, NAME_MAX - 8);
    uint8_t random[6];
    if (getentropy(random, sizeof random) != 0) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t seed = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(getpid()) << 32;
        for (uint8_t& r : random) r = static_cast<uint8_t>(seed >>= 7);
    }
    std::string name = dir + "." + base + ".";
    for (uint8_t r : random) name += kLetters[r % (sizeof kLetters - 1)];
    return name;
}

}  // namespace

bool output_begin(const std::string& path, AtomicFile& out, std::string& error) {
    out.path = path;
    mode_t mode = 0;
    bool replaces;
    if (!replaced_mode(path, mode, replaces, error)) return false;
    for (int attempt = 0; attempt < 100 && out.fd < 0; attempt++) {
        out.temp_path = temp_name(path);
        int open_errno;
        {
            SignalHold hold;
            out.fd = open(out.temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            open_errno = errno;
            if (out.fd >= 0) cleanup_register_file(out.temp_path);
        }
        if (out.fd < 0 && open_errno != EEXIST) {
            error = std::strerror(open_errno);
            return false;
        }
    }
    if (out.fd < 0) {
        error = "no free temporary file name";
        return false;
    }
    if (replaces && fchmod(out.fd, mode) != 0) {
        error = std::strerror(errno);
        output_abandon(out);
        return false;
    }
    return true;
}
