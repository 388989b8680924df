#include "tool/cleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Written only while the signals are held, so the handler sees each whole.
char* volatile g_file = nullptr;
volatile pid_t g_child = -1;

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGTERM};

extern "C" void undo_and_die(int sig) {
    pid_t child = g_child;
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    char* file = g_file;
    if (file != nullptr) unlink(file);
    signal(sig, SIG_DFL);
    raise(sig);  // delivered with the default action once the handler returns
}

sigset_t held_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kSignals) sigaddset(&set, sig);
    return set;
}

}  // namespace

void cleanup_install_handlers() {
    struct sigaction action = {};
    action.sa_handler = undo_and_die;
    sigfillset(&action.sa_mask);
    for (int sig : kSignals) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
}

sigset_t cleanup_hold_signals() {
    sigset_t hold = held_signals();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &hold, &previous);
    return previous;
}

void cleanup_release_signals(const sigset_t& previous) { sigprocmask(SIG_SETMASK, &previous, nullptr); }

void cleanup_register_file(const std::string& path) {
    cleanup_forget_file();
    g_file = strdup(path.c_str());
}

void cleanup_forget_file() {
    char* file = g_file;
    g_file = nullptr;
    std::free(file);
}

void cleanup_register_child(pid_t pid) { g_child = pid; }

void cleanup_forget_child() { g_child = -1; }
