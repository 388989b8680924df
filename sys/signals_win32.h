// The Windows side of signals.h, for the system layer's own code: the child
// as Windows knows it.
#pragma once

#include <windows.h>

#include "sys/signals.h"

void cleanup_register_child(HANDLE process);
