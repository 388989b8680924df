#include "sys/child.h"

#include <fcntl.h>
#include <windows.h>

#include <vector>

#include "sys/misuse.h"
#include "sys/signals_win32.h"
#include "sys/win32_text.h"

namespace {

// The program's file: NAME.exe in the tool's own folder, where a bundled
// copy sits, then in each folder on PATH. Unlike the system's own search,
// the current folder is never tried: it holds the images, not the tools.
std::wstring find_program(const std::string& name) {
    std::wstring file = wide(name) + L".exe";
    std::vector<std::wstring> folders;
    wchar_t self[32768];
    DWORD length = GetModuleFileNameW(nullptr, self, 32768);
    if (length > 0 && length < 32768) {
        std::wstring own(self, length);
        folders.push_back(own.substr(0, own.find_last_of(L"\\/") + 1));
    }
    std::wstring path(32768, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), 32768));
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring folder = path.substr(start, end - start);
        if (!folder.empty()) folders.push_back(folder + L"\\");
        start = end + 1;
    }
    for (const std::wstring& folder : folders) {
        DWORD attributes = GetFileAttributesW((folder + file).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return folder + file;
    }
    return {};
}

// A group of its own keeps Ctrl-C from the child: the tool's handler ends it
// after the tool, rather than the child ending first and the tool failing on
// that, so the tool ends as the user asked.
constexpr DWORD kCreationFlags = CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP;

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& drop_env,
                         const Descriptor& input, std::string& error) {
    if (process_ != 0) return misuse("a child started while another runs", error);
    std::wstring program = find_program(argv[0]);
    if (program.empty()) {
        error = "not found (" + argv[0] + ".exe is neither beside the tool nor on PATH)";
        return false;
    }
    std::wstring command = quoted_argument(program);
    for (size_t i = 1; i < argv.size(); i++) command += L" " + quoted_argument(wide(argv[i]));
    std::wstring environment = environment_block(drop_env);

    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) {
        error = last_reason();
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable_copy(handle_of(input.get()));
    startup.hStdOutput = inheritable_copy(write_end);
    startup.hStdError = inheritable_copy(GetStdHandle(STD_ERROR_HANDLE));
    CloseHandle(write_end);
    PROCESS_INFORMATION info = {};
    bool started = false;
    {
        SignalHold hold;
        started = startup.hStdInput != nullptr && startup.hStdOutput != nullptr &&
                  CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, kCreationFlags,
                                 environment.data(), nullptr, &startup, &info);
        if (started) {
            process_ = reinterpret_cast<intptr_t>(info.hProcess);
            cleanup_register_child(info.hProcess);
        }
    }
    if (!started) error = last_reason();
    // Only the child holds the writing end: its output ends when it does.
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (handle != nullptr) CloseHandle(handle);
    }
    if (!started) {
        CloseHandle(read_end);
        return false;
    }
    CloseHandle(info.hThread);
    out_ = Descriptor(descriptor_of(read_end, _O_RDONLY, error));
    if (!out_.is_open()) {
        abort();
        return false;
    }
    return true;
}

ChildProcess::Exit ChildProcess::reap_process() {
    HANDLE process = reinterpret_cast<HANDLE>(process_);
    DWORD code = 0;
    Exit exit;
    if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code)) {
        // An exception or a forced end is given as an NTSTATUS code.
        exit.how = code >= 0xC0000000 ? Exit::How::ended_by_status : Exit::How::exited;
        exit.code = code;
    } else {
        exit.reason = last_reason();
    }
    SignalHold hold;
    cleanup_forget_child();
    CloseHandle(process);
    process_ = 0;
    return exit;
}

void ChildProcess::kill_process() { TerminateProcess(reinterpret_cast<HANDLE>(process_), 1); }
