// Helpers for tests that run the built tools as a user would.
#pragma once

#include <cstdio>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A test that needs what only a POSIX system has stands in the Windows build
// as a skipped test of the same name that says what it needs.
#define POSIX_ONLY_TEST(suite, name, needs) \
    TEST(suite, name) { GTEST_SKIP() << "needs " needs ", which this Windows build lacks"; }

// Whether the tests can make symbolic links: the Windows build's C++ library
// cannot (std::filesystem::create_symlink fails there), so those cases are
// left out of it.
#ifdef _WIN32
constexpr bool kSymlinks = false;
#else
constexpr bool kSymlinks = true;
#endif

struct RunOptions {
    std::string cwd;                       // empty: the test's own
    std::optional<std::string> path_env;   // replaces PATH in the child
    std::vector<std::string> env;          // NAME=value set in the child
    std::string stdout_file;               // standard output goes there instead of being captured
    bool close_stdout = false;
    // POSIX systems only:
    std::optional<uint64_t> file_size_limit;      // RLIMIT_FSIZE; SIGXFSZ stays at its default
    std::optional<uint64_t> address_space_limit;  // RLIMIT_AS
    bool ignore_sigchld = false;  // the child starts with SIGCHLD ignored, as some parents leave it
    // Windows only: a console of its own, for console control events.
    bool new_console = false;
};

struct RunResult {
    int status = 0;  // exit status 0..255, or -1 when killed (by a signal, or by force on Windows)
    int signal = 0;  // the signal that killed it
    uint32_t exit_code = 0;  // Windows: the whole code, an NTSTATUS when it ended by force
    std::string out;
    std::string err;
    long max_rss_kib = 0;  // the child's peak resident memory
};

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options = {});

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

// A sparse file of `size` bytes (zeros that take no space).
void make_sparse(const std::string& path, uint64_t size);

// A deterministic raw image of `size` bytes with `label` and its NUL at 0x100
// when it fits.
Bytes make_image(size_t size, const std::string& label, uint32_t seed = 1);
