// A Win32 file handle measured as a FileStamp, for the system layer's Windows code.
#pragma once

#include <windows.h>

#include <string>

#include "sys/file_stamp.h"

bool stamp_of(HANDLE handle, FileStamp& stamp, std::string& error);
