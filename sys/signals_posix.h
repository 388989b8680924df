// What SignalHold saves on a POSIX system, for the system layer's own code.
#pragma once

#include <signal.h>

#include "sys/signals.h"

struct SignalHold::Saved {
    sigset_t mask;  // the mask from before the hold
};
