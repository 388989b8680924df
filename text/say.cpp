#include "text/say.h"

#include <cstdio>

#include "text/quote.h"

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

void diagnose(const char* tool, const std::string& message) { std::fprintf(stderr, "%s: %s\n", tool, message.c_str()); }

std::string about(const std::string& subject, const std::string& reason) { return shown_name(subject) + ": " + reason; }
