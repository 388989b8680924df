#include "sys/child.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sys/misuse.h"
#include "sys/signals_posix.h"

extern char** environ;

namespace {

// The folders a program is looked for in.
std::string search_path() {
    const char* path = std::getenv("PATH");
    return path != nullptr ? path : "/bin:/usr/bin";
}

// The program's file: NAME itself when it names a path, else the first
// executable NAME in a folder on PATH (an empty entry is the current
// folder, as the exec functions take it). Found here rather than by
// posix_spawnp, which may report a program that is missing only as the
// child's exit status 127 (older C libraries, and qemu-user, do).
std::string find_program(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const std::string folders = search_path();
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        std::string file = (folder.empty() ? "." : folder) + "/" + name;
        struct stat st;
        if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0) return file;
        start = end + 1;
    }
    return "";
}

// The tool's environment less the variables named.
std::vector<char*> environment_without(const std::vector<std::string>& drop) {
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; e++) {
        bool dropped = false;
        for (const std::string& name : drop)
            dropped = dropped || std::strncmp(*e, (name + "=").c_str(), name.size() + 1) == 0;
        if (!dropped) env.push_back(*e);
    }
    env.push_back(nullptr);
    return env;
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& args, const std::vector<std::string>& drop_env,
                         const Descriptor& input, std::string& error) {
    if (process_ != 0) return misuse("a child started while another runs", error);
    int from_child[2];
    if (pipe(from_child) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // Neither end may leak into the child beyond the one it is given as stdout.
    fcntl(from_child[0], F_SETFD, FD_CLOEXEC);
    fcntl(from_child[1], F_SETFD, FD_CLOEXEC);
    Descriptor read_end(from_child[0]);
    Descriptor write_end(from_child[1]);

    // Where it was looked for, so that a missing program can be put there.
    const std::string not_found = "not found on PATH (" + search_path() + ")";
    const std::string program = find_program(args[0]);
    if (program.empty()) {
        error = not_found;
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> env = environment_without(drop_env);
    // The child gets the signal mask the tool had, SIGPIPE and SIGXFSZ at
    // their defaults, which the tool ignores for itself, and a process group
    // of its own. That group is in the terminal's background, where a write
    // to a terminal set to `stty tostop` would stop it (SIGTTOU) and the run
    // with it: SIGTTOU is blocked, which lets its messages through.
    SignalHold hold;
    sigset_t mask = hold.saved();
    sigaddset(&mask, SIGTTOU);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    // Every step is checked: one that fails (out of memory) is told, not run past.
    posix_spawn_file_actions_t actions;
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0) {
        error = std::strerror(rc);
        return false;
    }
    posix_spawnattr_t attr;
    rc = posix_spawnattr_init(&attr);
    if (rc != 0) {
        posix_spawn_file_actions_destroy(&actions);
        error = std::strerror(rc);
        return false;
    }
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, input.get(), 0);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, write_end.get(), 1);
    if (rc == 0)
        rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &mask);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
    if (rc == 0) rc = posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    if (rc == 0) rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env.data());
    if (rc == 0) {
        process_ = pid;
        cleanup_register_child(pid);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = rc == ENOENT ? not_found : std::strerror(rc);
        return false;
    }
    // Only the child holds the writing end now: its output ends when it does.
    out_ = std::move(read_end);
    return true;
}

ChildProcess::Exit ChildProcess::reap_process() {
    // Waited for without reaping it, so that its id stays its own: what it
    // left in its group (a grandchild) is ended with it, and it is reaped and
    // forgotten while the signals are held, so that no handler kills an id
    // that was freed in between.
    const pid_t pid = static_cast<pid_t>(process_);
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    int status = 0;
    pid_t reaped;
    int wait_errno;
    {
        SignalHold hold;
        kill(-pid, SIGKILL);
        while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        wait_errno = errno;
        cleanup_forget_child();
        process_ = 0;
    }
    Exit exit;
    if (reaped < 0) {
        exit.reason = std::strerror(wait_errno);
    } else if (WIFSIGNALED(status)) {
        exit.how = Exit::How::killed_by_signal;
        exit.code = static_cast<uint32_t>(WTERMSIG(status));
    } else {
        exit.how = Exit::How::exited;
        exit.code = static_cast<uint32_t>(WEXITSTATUS(status));
    }
    return exit;
}

// Its whole process group: a grandchild goes with it.
void ChildProcess::kill_process() { kill(-static_cast<pid_t>(process_), SIGKILL); }
