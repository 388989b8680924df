#include "sys/child.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "sys/signals_posix.h"
#include "sys/file_io.h"

extern char** environ;

namespace {

// The tool's environment less the variables named.
std::vector<char*> environment_without(const std::vector<std::string>& drop) {
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; e++) {
        bool dropped = false;
        for (const std::string& name : drop) dropped = dropped || std::strncmp(*e, (name + "=").c_str(), name.size() + 1) == 0;
        if (!dropped) env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

// Waits for the child and says how it ended; `otherwise` is the reason when
// it exited 0 although something went wrong.
bool reap(ChildProcess& child, const char* otherwise, std::string& error) {
    file_close(child.out_fd);
    int status = 0;
    pid_t reaped;
    while ((reaped = waitpid(static_cast<pid_t>(child.id), &status, 0)) < 0 && errno == EINTR) {
    }
    int wait_errno = errno;
    cleanup_forget_child();
    child.id = -1;
    if (reaped < 0) {
        // Without its exit status, nothing tells that the child succeeded.
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

bool spawn(ChildProcess& child, const std::vector<std::string>& args, const std::vector<std::string>& drop_env,
           int child_in, int child_out, std::string& error) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> env = environment_without(drop_env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child_in, 0);
    posix_spawn_file_actions_adddup2(&actions, child_out, 1);
    // The child gets the signal mask the tool had, and SIGPIPE and SIGXFSZ at
    // their defaults, which the tool ignores for itself.
    SignalHold hold;
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setsigmask(&attr, &hold.saved().mask);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), env.data());
    if (rc == 0) {
        child.id = pid;
        cleanup_register_child(pid);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = rc == ENOENT ? "not found" : std::strerror(rc);
        return false;
    }
    return true;
}

}  // namespace

bool child_start(ChildProcess& child, const std::vector<std::string>& argv, const std::vector<std::string>& drop_env,
                 int input_fd, std::string& error) {
    int from_child[2];
    if (pipe(from_child) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // Neither end may leak into xz beyond the one it is given as stdout.
    fcntl(from_child[0], F_SETFD, FD_CLOEXEC);
    fcntl(from_child[1], F_SETFD, FD_CLOEXEC);
    bool started = spawn(child, argv, drop_env, input_fd, from_child[1], error);
    // Only the child holds the writing end: we see the end of its output.
    close(from_child[1]);
    if (!started) {
        close(from_child[0]);
        return false;
    }
    child.out_fd = from_child[0];
    return true;
}

bool child_read(ChildProcess& child, uint8_t* output, size_t output_size, size_t& got, std::string& error) {
    got = 0;
    ssize_t n;
    while ((n = read(child.out_fd, output, output_size)) < 0 && errno == EINTR) {
    }
    if (n < 0) return reap(child, "its output could not be read", error);
    if (n == 0) file_close(child.out_fd);
    got = static_cast<size_t>(n);
    return true;
}

bool child_wait(ChildProcess& child, std::string& error) { return reap(child, nullptr, error); }

void child_abort(ChildProcess& child) {
    if (child.id < 0) return;
    kill(static_cast<pid_t>(child.id), SIGKILL);
    std::string ignored;
    reap(child, nullptr, ignored);
}

ChildProcess::~ChildProcess() { child_abort(*this); }
