// The system's randomness, for temporary names. A file of its own, so that a
// test can link its own in its place (tests/atomic_names_test.cpp).
#include "sys/random_bytes.h"

#include <stdlib.h>  // rand_s, with _CRT_RAND_S

void random_bytes(uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; i++) {
        unsigned int random = 0;
        rand_s(&random);
        data[i] = static_cast<uint8_t>(random);
    }
}
