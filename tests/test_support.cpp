#include "test_support.h"

#include "format/crc16_xmodem.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

std::string slurp_fd(int fd) {
    std::string text;
    lseek(fd, 0, SEEK_SET);
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    return text;
}

}  // namespace

Running start_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    FILE* out_file = std::tmpfile();
    FILE* err_file = std::tmpfile();
    if (out_file == nullptr || err_file == nullptr) throw std::runtime_error("tmpfile failed");
    int out_fd = fileno(out_file);
    int err_fd = fileno(err_file);

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
    return Running{pid, out_file, err_file};
}

RunResult wait_program(Running& running) {
    int status = 0;
    struct rusage usage = {};
    while (wait4(running.pid, &status, 0, &usage) < 0) {
    }
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.max_rss_kib = usage.ru_maxrss;
    result.out = slurp_fd(fileno(running.out));
    result.err = slurp_fd(fileno(running.err));
    std::fclose(running.out);
    std::fclose(running.err);
    return result;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    Running running = start_program(program, args, options);
    return wait_program(running);
}

TempDir::TempDir(const std::string& parent) {
    std::filesystem::path base = parent.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(parent);
    std::string pattern = (base / "ota_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes read_file_if_any(const std::string& path) { return file_exists(path) ? read_file(path) : Bytes{}; }

void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

RunResult pack(const std::string& dir, const std::vector<std::string>& args, RunOptions options) {
    options.cwd = dir;
    return run_program(IMAGE_GEN_HEADER_PATH, args, options);
}

Bytes pack_image(const std::string& dir, const std::string& name, const Bytes& image, const std::string& mode) {
    write_file(dir + "/" + name + ".bin", image);
    RunResult r = pack(dir, {name + ".bin", mode});
    if (r.status != 0) throw std::runtime_error("packing failed: " + r.out + r.err);
    return read_file(dir + "/" + name + ".ota.bin");
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string raw_image_lines(const Bytes& image) {
    return "image size:" + hex32(static_cast<uint32_t>(image.size())) + "\nimage crc:" +
           hex32(CRC16_XMODEM(image.data(), image.size())) + "\n";
}

void make_sparse(const std::string& path, uint64_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) throw std::runtime_error("cannot make " + path);
    close(fd);
}

Bytes make_image(size_t size, const std::string& label, uint32_t seed) {
    Bytes image(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    for (size_t i = 0; i <= label.size() && 0x100 + i < size; i++) {
        image[0x100 + i] = i < label.size() ? static_cast<uint8_t>(label[i]) : 0;
    }
    return image;
}
