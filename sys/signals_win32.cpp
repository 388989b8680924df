// Windows has no signals to end a run from outside but the console's control
// events: Ctrl-C, Ctrl-Break, the console window closed, logoff and shutdown.
// Each undoes the run as a fatal signal does elsewhere, then ends the tool
// with the status an unhandled Ctrl-C gives. A SignalHold is a lock the
// handler takes too, so it waits until a file or a child is registered.
#include "sys/signals.h"

#include <windows.h>

#include <cstdlib>

#include "sys/directory.h"
#include "sys/signals_win32.h"
#include "sys/win32_text.h"

namespace {

// Set once the handlers are: before that (a library caller, which installs
// none) nothing is registered, so that runs on several threads share nothing.
bool g_installed = false;

// Ready before main, so that a hold works even before the handler is installed.
struct Lock {
    CRITICAL_SECTION section;
    Lock() { InitializeCriticalSection(&section); }
} g_lock;
wchar_t* g_file = nullptr;
HANDLE g_child = nullptr;
UINT g_console_code_page = 0;  // the console's own, while ours is UTF-8

void restore_console_code_page() {
    if (g_console_code_page != 0) SetConsoleOutputCP(g_console_code_page);
}

BOOL WINAPI undo_and_end(DWORD) {
    EnterCriticalSection(&g_lock.section);  // held until the end: the run goes no further
    if (g_child != nullptr) {
        TerminateProcess(g_child, STATUS_CONTROL_C_EXIT);
        WaitForSingleObject(g_child, INFINITE);
    }
    if (g_file != nullptr) DeleteFileW(g_file);
    restore_console_code_page();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

void cleanup_install_handlers(const std::string&) {
    g_installed = true;
    SetConsoleCtrlHandler(undo_and_end, TRUE);
}

void console_use_utf8() {
    const UINT own = GetConsoleOutputCP();  // 0: no console
    if (own == 0 || own == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
    g_console_code_page = own;
    std::atexit(restore_console_code_page);
}

SignalHold::SignalHold() { EnterCriticalSection(&g_lock.section); }

SignalHold::~SignalHold() { LeaveCriticalSection(&g_lock.section); }

void cleanup_register_file(const Directory& dir, const std::string& name) {
    if (!g_installed) return;
    cleanup_forget_file();
    g_file = _wcsdup(wide_path_in(dir.path(), name).c_str());
}

void cleanup_forget_file() {
    if (!g_installed) return;
    wchar_t* file = g_file;
    g_file = nullptr;
    std::free(file);
}

void cleanup_register_child(HANDLE process) {
    if (g_installed) g_child = process;
}

void cleanup_forget_child() {
    if (g_installed) g_child = nullptr;
}
