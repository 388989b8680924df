// The POSIX side of signals.h, for the system layer's own code: the child as
// a POSIX system knows it.
#pragma once

#include <sys/types.h>

#include "sys/signals.h"

void cleanup_register_child(pid_t pid);
