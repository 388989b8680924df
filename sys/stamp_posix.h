// A POSIX file status as a FileStamp, for the system layer's POSIX code.
#pragma once

#include <sys/stat.h>

#include "sys/file_stamp.h"

FileStamp stamp_of(const struct stat& st);
