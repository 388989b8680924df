#include "sys/misuse.h"

#include <cstdio>
#include <cstdlib>

bool misuse(const char* what, std::string& error) {
#ifndef NDEBUG
    std::fprintf(stderr, "internal error: %s\n", what);
    std::abort();
#endif
    error = std::string("internal error: ") + what;
    return false;
}
