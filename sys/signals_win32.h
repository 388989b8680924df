// The Windows side of signals.h, for the system layer's own code: the child
// as Windows knows it.
#pragma once

#include <windows.h>

#include "sys/signals.h"

void cleanup_register_child(HANDLE process);

// Makes the console show UTF-8 for as long as the tool runs: its output code
// page is given back at exit and when a control event ends the tool, since
// the console outlives the tool.
void console_use_utf8();
