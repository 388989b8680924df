// What a run must undo if a signal ends it: its temporary output file, and
// the compressor if one is running. A run has at most one of each; their
// owners (AtomicFile, ChildProcess) register and forget them. Calling
// sequence: cleanup_install_handlers() once at start (process_setup does),
// then register under a SignalHold as below.
//
// Every signal whose default action ends the process (all but SIGKILL and
// SIGSTOP, which cannot be caught, and SIGPIPE and SIGXFSZ, which the tools
// ignore) removes the file, kills and reaps the child, and is then raised
// again with its default action, so the caller still sees the signal. A
// signal that was ignored when the tool started stays ignored.
#pragma once

#include <string>

void cleanup_install_handlers();

// Holds the handled signals back for as long as it lives, so that a file or
// a child is never made without being registered, nor removed while still
// registered:
//
//     {
//         SignalHold hold;
//         fd = open(temp, ...);
//         if (fd >= 0) cleanup_register_file(temp);
//     }  // a signal that came meanwhile is delivered here, and finds the file registered
class SignalHold {
public:
    SignalHold();
    ~SignalHold();
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

    // What the hold saved: the mask from before it, which is also the one a
    // child should get (the platform's code reads it).
    // Kept in place, so that holding never allocates (it runs in destructors).
    struct Saved;
    const Saved& saved() const { return *reinterpret_cast<const Saved*>(storage_); }

private:
    alignas(16) unsigned char storage_[256];
};

void cleanup_register_file(const std::string& path);
void cleanup_forget_file();
void cleanup_register_child(long long id);
void cleanup_forget_child();
