// Messages on standard error, one line each: "TOOL: SUBJECT: REASON".
#pragma once

#include <string>

// Bytes as ASCII: printable characters stay, a backslash is doubled, any
// other byte is written \xNN. Lossless, and safe on any terminal.
std::string printable(const std::string& bytes);

// An argument in a message: 'ARG', made printable.
std::string single_quoted(const std::string& arg);

// Prints "TOOL: SUBJECT: REASON", the subject (a file name, say) made printable.
void diagnose(const char* tool, const std::string& subject, const std::string& reason);
