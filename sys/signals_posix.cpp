#include "sys/signals.h"

#include "sys/signals_posix.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "sys/directory.h"

namespace {

// Set once the handlers are: before that (a library caller, which installs
// none) nothing is registered, so that runs on several threads share nothing.
bool g_installed = false;

// Written only while the signals are held, so the handler sees each whole:
// the temporary file, as its directory's descriptor and its name there, and
// the child.
volatile int g_file_dir = -1;
char* volatile g_file = nullptr;
volatile pid_t g_child = -1;

// The signals the handler was installed for; also the ones held.
sigset_t g_handled;

// What an interrupt writes on standard error, made before any signal comes:
// on a terminal the status line, if one is drawn, is erased first.
char g_interrupted[128];
size_t g_interrupted_size = 0;

// Signals whose default action ends the process, less SIGKILL and SIGSTOP
// (they cannot be caught) and SIGPIPE and SIGXFSZ (ignored: a failed write is
// reported). The real-time signals are added at run time.
constexpr int kFatalSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

void undo() {
    pid_t child = g_child;
    if (child > 0) {
        kill(-child, SIGKILL);  // its process group: a grandchild goes with it
        waitpid(child, nullptr, 0);
    }
    char* file = g_file;
    if (file != nullptr) unlinkat(g_file_dir, file, 0);
}

extern "C" void undo_and_die(int sig) {
    undo();
    if (sig == SIGINT && g_interrupted_size > 0) {
        ssize_t ignored = write(2, g_interrupted, g_interrupted_size);
        (void)ignored;
    }
    signal(sig, SIG_DFL);
    raise(sig);  // delivered with the default action once the handler returns
}

void handle(int sig, const struct sigaction& action) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
    if (sigaction(sig, &action, nullptr) == 0) sigaddset(&g_handled, sig);
}

}  // namespace

void cleanup_install_handlers(const std::string& tool) {
    g_installed = true;
    const std::string message = (isatty(2) == 1 ? "\r\033[K" : "") + tool + ": interrupted\n";
    if (message.size() <= sizeof g_interrupted) {
        std::memcpy(g_interrupted, message.data(), message.size());
        g_interrupted_size = message.size();
    }
    struct sigaction action = {};
    action.sa_handler = undo_and_die;
    sigfillset(&action.sa_mask);
    sigemptyset(&g_handled);
    for (int sig : kFatalSignals) handle(sig, action);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; sig++) handle(sig, action);
#endif
}

SignalHold::SignalHold() { sigprocmask(SIG_BLOCK, &g_handled, &saved_); }

SignalHold::~SignalHold() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

void cleanup_register_file(const Directory& dir, const std::string& name) {
    if (!g_installed) return;
    cleanup_forget_file();
    g_file_dir = dir.descriptor();
    g_file = strdup(name.c_str());
}

void cleanup_forget_file() {
    if (!g_installed) return;
    char* file = g_file;
    g_file = nullptr;
    std::free(file);
}

void cleanup_register_child(pid_t pid) {
    if (g_installed) g_child = pid;
}

void cleanup_forget_child() {
    if (g_installed) g_child = -1;
}
