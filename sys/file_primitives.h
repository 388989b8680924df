// The platform's calls on a bare descriptor, for the system layer's own
// portable code (file_io.cpp, atomic_file.cpp, child.cpp); each platform's
// file_io_*.cpp defines them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One read: `got` is 0 at the end of the file (or of a pipe whose writer closed it).
bool fd_read_some(int fd, uint8_t* data, size_t size, size_t& got, std::string& error);
// One write: `wrote` bytes went.
bool fd_write_some(int fd, const uint8_t* data, size_t size, size_t& wrote, std::string& error);

// Standard output's descriptor.
constexpr int kStandardOutput = 1;
