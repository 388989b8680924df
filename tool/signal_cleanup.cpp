#include "tool/signal_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Slots are published only once their string is complete and cleared before
// it is freed, so the handler never sees a half-made or freed path.
char* volatile g_paths[2];

extern "C" void remove_and_die(int sig) {
    for (char* volatile& slot : g_paths) {
        char* path = slot;
        if (path != nullptr) unlink(path);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

void install_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action = {};
    action.sa_handler = remove_and_die;
    sigfillset(&action.sa_mask);
    for (int sig : {SIGHUP, SIGINT, SIGTERM}) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
}

}  // namespace

void remove_on_signal(const std::string& path) {
    install_handlers();
    for (char* volatile& slot : g_paths) {
        if (slot == nullptr) {
            slot = strdup(path.c_str());
            return;
        }
    }
}

void keep_on_signal(const std::string& path) {
    for (char* volatile& slot : g_paths) {
        char* held = slot;
        if (held != nullptr && path == held) {
            slot = nullptr;
            std::free(held);
            return;
        }
    }
}
