// What a run must undo if a signal or an unexpected error ends it: its
// temporary output file, and the compressor if one is running. A run has at
// most one of each.
//
// Every signal whose default action ends the process (all but SIGKILL and
// SIGSTOP, which cannot be caught, and SIGPIPE and SIGXFSZ, which the tools
// ignore) removes the file, kills and reaps the child, and is then raised
// again with its default action, so the caller still sees the signal. A
// signal that was ignored when the tool started stays ignored.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

void cleanup_install_handlers();

// Holds the handled signals back until released, so that a file or a child
// is never made without being registered, nor removed while still
// registered. Returns the mask to release with, which is also the one a
// child should get.
sigset_t cleanup_hold_signals();
void cleanup_release_signals(const sigset_t& previous);

void cleanup_register_file(const std::string& path);
void cleanup_forget_file();
void cleanup_register_child(pid_t pid);
void cleanup_forget_child();

// Undoes what is registered, now: for a run ended by an error that no step
// reported (an exception that reached the top).
void cleanup_now();
