// How the tools speak: a line on standard output, which callers read as the
// result, and a diagnostic on standard error, which people read.
#pragma once

#include <string>

// LINE and a newline on standard output.
void say(const std::string& line);

// "TOOL: MESSAGE" on standard error.
void diagnose(const char* tool, const std::string& message);

// "SUBJECT: REASON" for a diagnostic, the subject (a file name, say) shown as typed.
std::string about(const std::string& subject, const std::string& reason);
