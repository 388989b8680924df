// Running the tools on a POSIX system: fork and exec, with the limits and
// signal dispositions a test asks for.
#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

std::string slurp_fd(int fd) {
    std::string text;
    lseek(fd, 0, SEEK_SET);  // a pseudo-terminal cannot seek: read as it is
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    return text;
}

}  // namespace

Running start_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    FILE* out_file = std::tmpfile();
    // Standard error on a pseudo-terminal's far end, or in a file.
    int terminal = options.stderr_terminal ? posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (options.stderr_terminal && (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0)) {
        throw std::runtime_error("no pseudo-terminal");
    }
    FILE* err_file = terminal >= 0 ? fdopen(terminal, "r") : std::tmpfile();
    if (out_file == nullptr || err_file == nullptr) throw std::runtime_error("tmpfile failed");
    int out_fd = fileno(out_file);
    int err_fd = fileno(err_file);
    const std::string terminal_name = terminal >= 0 ? ptsname(terminal) : "";

    std::vector<std::string> argv_strings{program};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_strings) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        if (!terminal_name.empty()) {
            int fd = open(terminal_name.c_str(), O_RDWR | O_NOCTTY);
            struct termios raw;  // bytes as written: no "\r" added before "\n"
            if (fd < 0 || tcgetattr(fd, &raw) != 0 || dup2(fd, 2) < 0) _exit(126);
            cfmakeraw(&raw);
            tcsetattr(2, TCSANOW, &raw);
        }
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        if (!options.stdout_file.empty()) {
            int fd = open(options.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (fd < 0 || dup2(fd, 1) < 0) _exit(126);
        }
        if (options.close_stdout) close(1);
        if (options.ignore_sigchld) signal(SIGCHLD, SIG_IGN);
        if (options.path_env) setenv("PATH", options.path_env->c_str(), 1);
        for (const std::string& setting : options.env) putenv(const_cast<char*>(setting.c_str()));
        if (options.file_size_limit) {
            struct rlimit limit = {*options.file_size_limit, *options.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.address_space_limit) {
            struct rlimit limit = {*options.address_space_limit, *options.address_space_limit};
            setrlimit(RLIMIT_AS, &limit);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return Running{pid, nullptr, out_file, err_file};
}

RunResult wait_program(Running& running) {
    int status = 0;
    struct rusage usage = {};
    while (wait4(static_cast<pid_t>(running.pid), &status, 0, &usage) < 0) {
    }
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
#ifdef __APPLE__
    result.max_rss_kib = usage.ru_maxrss / 1024;  // bytes there, KiB on Linux
#else
    result.max_rss_kib = usage.ru_maxrss;
#endif
    result.out = slurp_fd(fileno(running.out));
    result.err = slurp_fd(fileno(running.err));
    std::fclose(running.out);
    std::fclose(running.err);
    return result;
}

void kill_program(Running& running) { kill(static_cast<pid_t>(running.pid), SIGKILL); }

std::vector<std::string> hostile_names(const std::string& deep) {
    return {"with blank.bin",       "quo'te\"s.bin",        "$(touch pwned1).bin", "`touch pwned2`.bin",
            "a;touch pwned3;b.bin", "p|i&p<e>*?(x).bin",    "-leading.bin",        "--help.bin",
            "new\nline.bin",        "caf\xc3\xa9-\xff.bin", deep + "/image.bin"};
}

std::string fake_xz_path(const TempDir& dir, const std::string& body) {
    std::string bin = dir / "fakebin";
    mkdir(bin.c_str(), 0777);
    write_file(bin + "/xz", Bytes(body.begin(), body.end()));
    chmod((bin + "/xz").c_str(), 0755);
    return bin + ":/usr/bin:/bin";
}

void make_fifo(const std::string& path) {
    if (mkfifo(path.c_str(), 0666) != 0) throw std::runtime_error("mkfifo failed: " + path);
}

void set_permissions(const std::string& path, unsigned mode) { chmod(path.c_str(), static_cast<mode_t>(mode)); }

bool running_as_root() { return geteuid() == 0; }

void give_away(const std::string& path) {
    if (lchown(path.c_str(), 54321, 54321) != 0) throw std::runtime_error("cannot give away " + path);
}

unsigned permissions_of(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
    return st.st_mode & 07777;
}

std::vector<NamedSignal> fatal_signals() {
    std::vector<NamedSignal> signals;
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGXCPU, SIGRTMIN + 1}) {
        signals.push_back({sig, strsignal(sig)});
    }
    return signals;
}

void send_signal(long long pid, int sig) { kill(static_cast<pid_t>(pid), sig); }

bool process_exists(long long pid) {
    // A zombie has ended; it waits only for its parent (init, for an
    // orphan) to reap it. A process killed a moment ago may take a moment.
    for (int i = 0; i < 100; i++) {
        if (kill(static_cast<pid_t>(pid), 0) != 0) return false;
        std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
        std::string stat;
        std::getline(file, stat);
        size_t name_end = stat.rfind(')');
        if (name_end != std::string::npos && stat.compare(name_end, 3, ") Z") == 0) return false;
        usleep(10'000);
    }
    return true;
}

bool host_has(Needs what) {
    switch (what) {
        case Needs::proc: return access("/proc/self/fd", F_OK) == 0;
        case Needs::mount_namespaces: {
            static const bool has = run_program("/usr/bin/unshare", {"-m", "/bin/true"}).status == 0;
            return has;
        }
        case Needs::enforced_address_limit: {
            // A child under a 256 MiB limit asks for 1 GiB: refused where the limit holds.
            static const bool has = [] {
                pid_t pid = fork();
                if (pid == 0) {
                    struct rlimit limit = {256u << 20, 256u << 20};
                    setrlimit(RLIMIT_AS, &limit);
                    void* p = mmap(nullptr, size_t{1} << 30, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                    _exit(p == MAP_FAILED ? 0 : 1);
                }
                int status = 0;
                return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }();
            return has;
        }
        case Needs::sha256sum: {
            static const bool has = run_program("/bin/sh", {"-c", "command -v sha256sum"}).status == 0;
            return has;
        }
    }
    return false;
}

RunResult run_with_own_dev(const std::string& cwd, const std::vector<std::string>& command, const std::string& input) {
    std::string script =
        "mount -t tmpfs none /dev && ln -s /proc/self/fd/0 /dev/stdin && ln -s /proc/self/fd/1 /dev/stdout && "
        "ln -s /proc/self/fd/2 /dev/stderr && ln -s /proc/self/fd /dev/fd && exec \"$@\"";
    if (!input.empty()) script += " < \"$0\"";
    std::vector<std::string> args = {"-m", "/bin/sh", "-c", script, input.empty() ? "sh" : input};
    args.insert(args.end(), command.begin(), command.end());
    RunOptions options;
    options.cwd = cwd;
    return run_program("/usr/bin/unshare", args, options);
}

void set_env(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

void unset_env(const std::string& name) { unsetenv(name.c_str()); }
