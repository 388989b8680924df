// Windows only, for the system layer's own code and the Windows test runner:
// names cross the Win32 calls as UTF-16 and live everywhere else as UTF-8;
// errors are told in the same words as on a POSIX system where the two mean
// the same.
#pragma once

#include <io.h>
#include <windows.h>

#include <string>
#include <vector>

std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& wide);

// A file name for the Win32 file calls: as given, or when it is too long for
// them (260 characters), made absolute with the \\?\ prefix that lifts the limit.
std::wstring wide_path(const std::string& utf8);

// NAME in the folder DIR, as wide_path gives it.
std::wstring wide_path_in(const std::string& dir, const std::string& name);

// One argument on a command line, as the C runtime of the program started
// splits it: in quotes when it holds a space or a quote, with the
// backslashes before a quote doubled.
std::wstring quoted_argument(const std::wstring& argument);

// The tool's environment as a block for CreateProcessW, less the variables
// named in `drop` (names are without case on Windows): NAME=value entries,
// each ended by a NUL, then one more NUL.
std::wstring environment_block(const std::vector<std::string>& drop);

// A copy of `handle` that a child started now inherits, or null; its owner
// closes it once the child has started.
HANDLE inheritable_copy(HANDLE handle);

// The reason for a Win32 error code, "No such file or directory" and the
// like for the common ones.
std::string win32_reason(DWORD code);
inline std::string last_reason() { return win32_reason(GetLastError()); }

// The Win32 handle under a C runtime descriptor.
inline HANDLE handle_of(int fd) { return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Wraps a handle in a C runtime descriptor that owns it: -1 (and the handle
// closed) on failure.
int descriptor_of(HANDLE handle, int flags, std::string& error);
