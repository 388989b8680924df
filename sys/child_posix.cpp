#include "sys/child.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "sys/signals.h"
#include "sys/file_io.h"

extern char** environ;

namespace {

// The tool's environment less the variables through which xz takes options.
std::vector<char*> xz_environment() {
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; e++) {
        if (std::strncmp(*e, "XZ_OPT=", 7) == 0 || std::strncmp(*e, "XZ_DEFAULTS=", 12) == 0) continue;
        env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

// Waits for xz and says how it ended; `otherwise` is the reason when it
// exited 0 although something went wrong.
bool reap(XzChild& xz, const char* otherwise, std::string& error) {
    file_close(xz.out_fd);
    int status = 0;
    pid_t reaped;
    while ((reaped = waitpid(xz.pid, &status, 0)) < 0 && errno == EINTR) {
    }
    int wait_errno = errno;
    cleanup_forget_child();
    xz.pid = -1;
    if (reaped < 0) {
        // Without its exit status, nothing tells that xz succeeded.
        error = std::string("its exit status could not be had: ") + std::strerror(wait_errno);
    } else if (WIFSIGNALED(status)) {
        error = "killed by signal " + std::to_string(WTERMSIG(status));
    } else if (WEXITSTATUS(status) != 0) {
        error = "exit status " + std::to_string(WEXITSTATUS(status));
    } else if (otherwise != nullptr) {
        error = otherwise;
    } else {
        return true;
    }
    return false;
}

bool spawn(XzChild& xz, int child_in, int child_out, std::string& error) {
    char xz_name[] = "xz";
    char threads[] = "-T1";
    char filter[] = "--lzma2=dict=32KiB";
    char check[] = "--check=crc32";
    char to_stdout[] = "-c";
    char* argv[] = {xz_name, threads, filter, check, to_stdout, nullptr};
    std::vector<char*> env = xz_environment();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child_in, 0);
    posix_spawn_file_actions_adddup2(&actions, child_out, 1);
    // xz gets the signal mask the tool had, and SIGPIPE and SIGXFSZ at their
    // defaults, which the tool ignores for itself.
    SignalHold hold;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setsigmask(&attr, &hold.previous());
    posix_spawnattr_setsigdefault(&attr, &defaults);

    int rc = posix_spawnp(&xz.pid, xz_name, &actions, &attr, argv, env.data());
    if (rc == 0) cleanup_register_child(xz.pid);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        xz.pid = -1;
        error = rc == ENOENT ? "not found" : std::strerror(rc);
        return false;
    }
    return true;
}

}  // namespace

bool xz_start(XzChild& xz, int input_fd, std::string& error) {
    int from_xz[2];
    if (pipe(from_xz) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // Neither end may leak into xz beyond the one it is given as stdout.
    fcntl(from_xz[0], F_SETFD, FD_CLOEXEC);
    fcntl(from_xz[1], F_SETFD, FD_CLOEXEC);
    bool started = spawn(xz, input_fd, from_xz[1], error);
    // Only xz holds the writing end: we see the end of its output.
    close(from_xz[1]);
    if (!started) {
        close(from_xz[0]);
        return false;
    }
    xz.out_fd = from_xz[0];
    return true;
}

bool xz_read(XzChild& xz, uint8_t* output, size_t output_size, size_t& got, std::string& error) {
    got = 0;
    ssize_t n;
    while ((n = read(xz.out_fd, output, output_size)) < 0 && errno == EINTR) {
    }
    if (n < 0) return reap(xz, "its output could not be read", error);
    if (n == 0) file_close(xz.out_fd);
    got = static_cast<size_t>(n);
    return true;
}

bool xz_wait(XzChild& xz, std::string& error) { return reap(xz, nullptr, error); }

void xz_abort(XzChild& xz) {
    if (xz.pid < 0) return;
    kill(xz.pid, SIGKILL);
    std::string ignored;
    reap(xz, nullptr, ignored);
}

XzChild::~XzChild() { xz_abort(*this); }
