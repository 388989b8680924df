// Random bytes from the system, for names no one can guess.
#pragma once

#include <cstddef>
#include <cstdint>

void random_bytes(uint8_t* data, size_t size);
