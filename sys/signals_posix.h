// The POSIX side of signals.h, for the system layer's own code: what
// SignalHold saves, and the child as a POSIX system knows it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "sys/signals.h"

void cleanup_register_child(pid_t pid);

struct SignalHold::Saved {
    sigset_t mask;  // the mask from before the hold
};
