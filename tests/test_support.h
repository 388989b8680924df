// Helpers for tests that run the built tools as a user would.
#pragma once

#include <cstdio>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// What the host of this build has. The tests ask these instead of the
// preprocessor, so that every test compiles everywhere.
#ifdef _WIN32
constexpr bool kPosix = false;
#else
constexpr bool kPosix = true;  // signals, FIFOs, /dev and /proc, resource limits, shell scripts
#endif
// Whether the tests can make symbolic links: the Windows build's C++ library
// cannot (std::filesystem::create_symlink fails there).
constexpr bool kSymlinks = kPosix;
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;  // it reserves more address space than a tight limit allows
#else
constexpr bool kAddressSanitizer = false;
#endif

// A test that needs what only a POSIX system has skips elsewhere, saying what it needs.
#define SKIP_UNLESS_POSIX(needs) \
    if (!kPosix) GTEST_SKIP() << "needs " needs ", which this Windows build lacks"

// What a test needs beyond the system's kind, probed once on this host: a
// test asks for what it uses, not for Linux, so that it means the same on
// another POSIX system, and skips, saying what, where that is missing.
enum class Needs {
    proc,                    // /proc, with /proc/self/fd
    mount_namespaces,        // unshare -m, a mount namespace of the test's own
    enforced_address_limit,  // an RLIMIT_AS that refuses memory past it (macOS ignores it)
    sha256sum,               // the sha256sum command, to check digests against
};
bool host_has(Needs what);
#define SKIP_UNLESS_HOST_HAS(what, words) \
    if (!host_has(Needs::what)) GTEST_SKIP() << "needs " words ", which this host lacks"

// Whether the tests run under qemu-user, on a host of another architecture:
// CTest says so for a cross build (QEMU_LD_PREFIX). What qemu serves in the
// system's place (its own /proc/cpuinfo, its own address space) can make a
// test meaningless there; such a test skips, saying why, there only.
bool under_qemu();
#define SKIP_UNDER_QEMU(why) \
    if (under_qemu()) GTEST_SKIP() << "meaningless under qemu-user: " why

struct RunOptions {
    std::string cwd;                      // empty: the test's own
    std::optional<std::string> path_env;  // replaces PATH in the child
    std::vector<std::string> env;         // NAME=value set in the child
    std::string stdout_file;              // standard output goes there instead of being captured
    bool close_stdout = false;
    // POSIX systems only:
    std::optional<uint64_t> file_size_limit;      // RLIMIT_FSIZE; SIGXFSZ stays at its default
    std::optional<uint64_t> address_space_limit;  // RLIMIT_AS
    bool ignore_sigchld = false;                  // the child starts with SIGCHLD ignored, as some parents leave it
    bool stderr_terminal = false;                 // standard error is a pseudo-terminal, read back into `err`
    // Windows only: a console of its own, for console control events.
    bool new_console = false;
};

struct RunResult {
    int status = 0;          // exit status 0..255, or -1 when killed (by a signal, or by force on Windows)
    int signal = 0;          // the signal that killed it
    uint32_t exit_code = 0;  // Windows: the whole code, an NTSTATUS when it ended by force
    std::string out;
    std::string err;
    long max_rss_kib = 0;  // the child's peak resident memory
};

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

// The same in two steps, for tests that act on the program while it runs.
struct Running {
    long long pid = -1;
    void* process = nullptr;  // Windows: its handle
    FILE* out = nullptr;
    FILE* err = nullptr;
};
Running start_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});
RunResult wait_program(Running& running);

// Ends it at once, as SIGKILL or TerminateProcess does.
void kill_program(Running& running);

// A fresh directory, removed with everything in it at the end of the test.
struct TempDir {
    explicit TempDir(const std::string& parent = "");  // empty: the system's temporary directory
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// File names here are UTF-8 on every system.
Bytes read_file(const std::string& path);

// The SYNOPSIS of a man page in docs/ as it reads on screen, each line after
// `indent` but the first: what --help's usage lines must say.
std::string man_synopsis(const std::string& page, const std::string& indent);
// The file's bytes, or none when it does not exist (yet).
Bytes read_file_if_any(const std::string& path);
void write_file(const std::string& path, const Bytes& data);
bool file_exists(const std::string& path);
// The names in a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);

// image_gen_header run in `dir` as a user runs it.
RunResult pack(const std::string& dir, const std::vector<std::string>& args, RunOptions options = {});
// Packs `image` as NAME.bin in `dir` and returns NAME.ota.bin's bytes; throws
// when packing fails.
Bytes pack_image(const std::string& dir, const std::string& name, const Bytes& image, const std::string& mode);

// "0x%x" as image_gen_header prints its values.
std::string hex32(uint32_t value);
// The two lines image_gen_header prints for a raw image.
std::string raw_image_lines(const Bytes& image);

// The payload of an OTA file: what follows its header.
Bytes payload_of(const Bytes& ota);
// An xz stream decompressed by xz itself, with `dir` for its files.
Bytes decompress(const TempDir& dir, const Bytes& stream);

// A sparse file of `size` bytes (zeros that take no space).
void make_sparse(const std::string& path, uint64_t size);

// A deterministic raw image of `size` bytes with `label` and its NUL at 0x100
// when it fits.
Bytes make_image(size_t size, const std::string& label, uint32_t seed = 1);

// Writes `data` over the file's bytes from `offset` on.
void write_at(const std::string& path, uint64_t offset, const Bytes& data);

// File names that hold what shells and the system make much of: blanks,
// quotes, shell syntax, a leading '-', non-ASCII (and on POSIX systems
// control characters and bytes that are not UTF-8), each ending in ".bin",
// and one under `deep`, a folder the caller makes, past 255 bytes.
std::vector<std::string> hostile_names(const std::string& deep);

// POSIX systems only (the tests that use them skip elsewhere):
// A stand-in for xz on the search path: a shell script with the given body,
// in dir/fakebin; returns the PATH that finds it first.
std::string fake_xz_path(const TempDir& dir, const std::string& body);
void make_fifo(const std::string& path);
void set_permissions(const std::string& path, unsigned mode);
unsigned permissions_of(const std::string& path);  // lstat's, of a link itself
// What --version says after the tool's name: the version, and the commit of
// a build from git on a line of its own.
const std::string kVersionText =
    std::string(BUILD_VERSION) + (std::string(BUILD_COMMIT).empty() ? "" : std::string("\ncommit ") + BUILD_COMMIT);

// Whether the tests run as root, who alone can give a file to another user
// (give_away: to a user id no one has).
bool running_as_root();
void give_away(const std::string& path);
// Signals by number, and the ones whose default action ends a process.
struct NamedSignal {
    int number;
    std::string name;
};
std::vector<NamedSignal> fatal_signals();
void send_signal(long long pid, int sig);
bool process_exists(long long pid);  // a zombie is gone; one killed a moment ago has a second to go
// Runs `command` in `cwd` in a mount namespace with a /dev of its own, a
// tmpfs holding the links /dev/stdin, /dev/stdout, /dev/stderr and /dev/fd
// as the system has them, so that a fault cannot touch the system's /dev.
// `input`, when given, is the command's standard input.
RunResult run_with_own_dev(const std::string& cwd, const std::vector<std::string>& command,
                           const std::string& input = "");
void set_env(const std::string& name, const std::string& value);
void unset_env(const std::string& name);
