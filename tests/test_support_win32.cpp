// Running the tools on Windows (or under Wine): CreateProcessW with standard
// output and error in temporary files, the environment and folder a test asks for.
#include "test_support.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <psapi.h>  // after windows.h, which it needs

#include <stdexcept>

#include "sys/descriptor.h"
#include "sys/temp_file.h"
#include "sys/win32_text.h"

namespace {

// A temporary file the child writes and the test reads back.
FILE* capture_file() {
    std::string where, error;
    Descriptor fd;
    FILE* file = unnamed_temp_file("ota_test", fd, where, error) ? _fdopen(fd.release(), "w+b") : nullptr;
    if (file == nullptr) throw std::runtime_error("no capture file: " + error);
    return file;
}

HANDLE inheritable(HANDLE handle) {
    HANDLE copy = inheritable_copy(handle);
    if (copy == nullptr) throw std::runtime_error("DuplicateHandle failed: " + last_reason());
    return copy;
}

HANDLE open_inheritable(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE handle = CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
    return handle;
}

// The test's environment with the settings asked for, as a block.
std::wstring environment_for(const RunOptions& options) {
    std::vector<std::string> changes = options.env;
    if (options.path_env) changes.push_back("PATH=" + *options.path_env);
    std::vector<std::string> names;
    for (const std::string& change : changes) names.push_back(change.substr(0, change.find('=')));
    std::wstring block = environment_block(names);
    block.pop_back();  // the block's end, after the settings
    for (const std::string& change : changes) block += wide(change) + L'\0';
    return block + L'\0';
}

std::string slurp(FILE* file) {
    std::string text;
    std::fseek(file, 0, SEEK_SET);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    return text;
}

}  // namespace

Running start_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    if (options.file_size_limit || options.address_space_limit || options.ignore_sigchld) {
        throw std::runtime_error("a POSIX limit or disposition asked for on Windows");
    }
    Running running;
    running.out = capture_file();
    running.err = capture_file();
    std::wstring command = quoted_argument(wide(program));
    for (const std::string& arg : args) command += L" " + quoted_argument(wide(arg));
    std::wstring environment = environment_for(options);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open_inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = options.close_stdout ? INVALID_HANDLE_VALUE
                         : !options.stdout_file.empty()
                             ? open_inheritable(options.stdout_file, GENERIC_WRITE, CREATE_ALWAYS)
                             : inheritable(handle_of(_fileno(running.out)));
    startup.hStdError = inheritable(handle_of(_fileno(running.err)));
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | (options.new_console ? CREATE_NEW_CONSOLE : 0);
    std::wstring cwd = wide(options.cwd);
    PROCESS_INFORMATION info = {};
    // Wine now and then fails to start a process with ERROR_INTERNAL_ERROR
    // (seen once in a CI run, on the first start of a freshly copied
    // program): that is the runner's trouble, not the tool's, so it tries again.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; attempt++) {
        if (attempt > 0) Sleep(200);
        started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags, environment.data(),
                                 cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    if (!started) throw std::runtime_error("cannot start " + program + ": " + last_reason());
    CloseHandle(info.hThread);
    running.pid = info.dwProcessId;
    running.process = info.hProcess;
    return running;
}

RunResult wait_program(Running& running) {
    auto process = static_cast<HANDLE>(running.process);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    PROCESS_MEMORY_COUNTERS memory = {};
    K32GetProcessMemoryInfo(process, &memory, sizeof memory);
    CloseHandle(process);
    RunResult result;
    result.exit_code = code;
    result.status = code <= 255 ? static_cast<int>(code) : -1;
    result.max_rss_kib = static_cast<long>(memory.PeakWorkingSetSize / 1024);
    result.out = slurp(running.out);
    result.err = slurp(running.err);
    std::fclose(running.out);
    std::fclose(running.err);
    return result;
}

void kill_program(Running& running) { TerminateProcess(static_cast<HANDLE>(running.process), 1); }

// Windows keeps " * ? | < > and control characters out of names, and holds
// them in UTF-16: any Unicode, but only that.
std::vector<std::string> hostile_names(const std::string& deep) {
    return {"with blank.bin",     "quo'te.bin",           "$(touch pwned1).bin",
            "`touch pwned2`.bin", "a;touch pwned3;b.bin", "p&i^p%PATH%(x).bin",
            "-leading.bin",       "--help.bin",           "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x93\xa6.bin",
            deep + "/image.bin"};
}

namespace {

[[noreturn]] void posix_only(const char* what) {
    throw std::runtime_error(std::string(what) + " needs a POSIX system");
}

}  // namespace

std::string fake_xz_path(const TempDir&, const std::string&) { posix_only("a shell script in xz's place"); }
void make_fifo(const std::string&) { posix_only("a FIFO"); }
void set_permissions(const std::string&, unsigned) { posix_only("permission bits"); }
unsigned permissions_of(const std::string&) { posix_only("permission bits"); }
bool running_as_root() { return false; }
void give_away(const std::string&) { posix_only("file owners"); }
std::vector<NamedSignal> fatal_signals() { return {}; }
void send_signal(long long, int) { posix_only("a signal"); }
bool process_exists(long long) { posix_only("a signal"); }
// Windows has none of what a test can ask for.
bool host_has(Needs) { return false; }
RunResult run_with_own_dev(const std::string&, const std::vector<std::string>&, const std::string&) {
    posix_only("a mount namespace");
}
void set_env(const std::string& name, const std::string& value) { _putenv_s(name.c_str(), value.c_str()); }
void unset_env(const std::string& name) { _putenv_s(name.c_str(), ""); }
