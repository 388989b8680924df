// A stand-in for xz.exe in the Windows tests: it does what OTA_STAND_IN says
// instead of compressing.
//   exit:N      reads its input, exits N
//   nothing     exits 0 at once, with no output
//   garbage     reads its input, writes what is not a stream, exits 0
//   crash       reads a little, then ends as a crashed program does
//   sleep:FILE  writes its process id to FILE and sleeps for 30 s
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void read_input(size_t limit) {
    char buffer[4096];
    DWORD got = 0;
    size_t total = 0;
    while (total < limit && ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        total += got;
    }
}

}  // namespace

int main() {
    const char* what = std::getenv("OTA_STAND_IN");
    std::string action = what != nullptr ? what : "";
    if (action.starts_with("exit:")) {
        read_input(SIZE_MAX);
        return std::atoi(action.c_str() + 5);
    }
    if (action == "nothing") return 0;
    if (action == "garbage") {
        read_input(SIZE_MAX);
        std::fputs("garbage, not a stream", stdout);
        return 0;
    }
    if (action == "crash") {
        read_input(1000);
        TerminateProcess(GetCurrentProcess(), 0xC0000409);  // as a failed stack check ends a program
    }
    if (action.starts_with("sleep:")) {
        FILE* file = std::fopen(action.c_str() + 6, "w");
        if (file == nullptr) return 2;
        std::fprintf(file, "%lu", GetCurrentProcessId());
        std::fclose(file);
        Sleep(30'000);
        return 0;
    }
    std::fprintf(stderr, "stand_in_xz: unknown OTA_STAND_IN '%s'\n", action.c_str());
    return 2;
}
