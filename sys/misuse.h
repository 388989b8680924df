// A call out of its owner's calling sequence (a child waited for twice, a
// file written after its commit) is a bug in the caller, not a failure of
// the system. A debug build stops there, naming it on standard error; a
// release build fails the call, `error` saying what was misused, so that it
// can never act on a file or a process that is not there.
#pragma once

#include <string>

// Returns false, for `return misuse(...)` on the failure road.
bool misuse(const char* what, std::string& error);
