// What a run must undo if a signal ends it: its temporary output file, and
// the compressor if one is running. A run has at most one of each; their
// owners (AtomicFile, ChildProcess) register and forget them. Calling
// sequence: cleanup_install_handlers() once at start (process_setup does),
// then register under a SignalHold as below. The child is registered by the
// platform's code (signals_posix.h, signals_win32.h), which knows its kind.
//
// Every signal whose default action ends the process (all but SIGKILL and
// SIGSTOP, which cannot be caught, and SIGPIPE and SIGXFSZ, which the tools
// ignore) removes the file, kills and reaps the child, and is then raised
// again with its default action, so the caller still sees the signal. A
// signal that was ignored when the tool started stays ignored. On a POSIX
// system an interrupt (Ctrl-C, SIGINT) also clears the status line on a
// terminal and says on standard error that the run was interrupted.
#pragma once

#include <string>

#ifdef _WIN32
// Windows has no signal mask: a hold is a lock the console's handler takes too.
struct SignalMask {};
#else
#include <signal.h>
using SignalMask = sigset_t;
#endif

class Directory;

// TOOL names the tool in that message. Until it is called (the library
// never calls it) registering does nothing: no handler would read what was
// registered, and runs on several threads then share no state.
void cleanup_install_handlers(const std::string& tool);

// Holds the handled signals back for as long as it lives, so that a file or
// a child is never made without being registered, nor removed while still
// registered:
//
//     {
//         SignalHold hold;
//         if (dir.create_new(name, fd, error) == Directory::Made::made) cleanup_register_file(dir, name);
//     }  // a signal that came meanwhile is delivered here, and finds the file registered
class SignalHold {
public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

    // The mask from before the hold, which is also the one a child should get.
    const SignalMask& saved() const { return saved_; }

private:
    SignalMask saved_;
};

// The file NAME in DIR, which stays held while the file is registered.
void cleanup_register_file(const Directory& dir, const std::string& name);
void cleanup_forget_file();
void cleanup_forget_child();
