// Bytes made safe to show: on any terminal, in any log, losing nothing.
#pragma once

#include <string>

// Bytes as ASCII: printable characters stay, a backslash is doubled, any
// other byte is written \xNN. Lossless, and safe on any terminal.
std::string printable(const std::string& bytes);

// An argument in a message: 'ARG', made printable.
std::string single_quoted(const std::string& arg);
