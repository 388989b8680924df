// Standard output as a file the tools write data to (an extracted image).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sys/file_stamp.h"

// Writes all of the data to standard output.
bool stdout_write_all(const uint8_t* data, size_t size, std::string& error);

// True when standard output is the file `stamp` measured.
bool stdout_is(const FileStamp& stamp);

// Flushes standard output: false, with the reason, if any line was lost.
bool stdout_flushed(std::string& error);
