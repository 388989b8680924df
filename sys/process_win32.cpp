#include "sys/process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>  // after windows.h, which it needs

#include <string>
#include <vector>

#include "sys/signals_win32.h"
#include "sys/win32_text.h"

namespace {

// The arguments in UTF-8, for as long as the tool runs.
std::vector<std::string> g_arguments;
std::vector<char*> g_argv;

}  // namespace

void process_setup(int& argc, char**& argv) {
    // No dialog box for a missing drive or a crash: a tool in a build script
    // must fail, not wait for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    for (int fd = 0; fd <= 2; fd++) {
        if (_get_osfhandle(fd) < 0) _open("NUL", _O_RDONLY);  // takes the lowest free descriptor: fd
        // Bytes pass as they are: an image on standard output, and lines that
        // end in "\n" as on every other system.
        _setmode(fd, _O_BINARY);
    }
    cleanup_install_handlers("");
    // Names and messages are UTF-8: the console shows them as such. Written
    // elsewhere (a file, a pipe), the bytes are UTF-8 already.
    console_use_utf8();

    int count = 0;
    wchar_t** wide_argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide_argv == nullptr) return;  // the C runtime's own arguments serve
    for (int i = 0; i < count; i++) g_arguments.push_back(utf8(wide_argv[i]));
    LocalFree(wide_argv);
    for (std::string& argument : g_arguments) g_argv.push_back(argument.data());
    g_argv.push_back(nullptr);
    argc = count;
    argv = g_argv.data();
}

bool stderr_is_terminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
