// The system's randomness, for temporary names. A file of its own, so that a
// test can link its own in its place (tests/atomic_names_test.cpp).
#include "sys/random_bytes.h"

#ifdef __APPLE__
#include <sys/random.h>  // getentropy
#endif
#include <time.h>
#include <unistd.h>

void random_bytes(uint8_t* data, size_t size) {
    if (getentropy(data, size) == 0) return;
    // Without the system's randomness a name is only harder to guess; it is
    // still made exclusively.
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t seed = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(getpid()) << 32;
    for (size_t i = 0; i < size; i++) data[i] = static_cast<uint8_t>(seed >>= 7);
}
