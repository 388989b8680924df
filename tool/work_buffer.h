// The one working buffer of a packing run: the header's 128 bytes, then the
// payload, so the OTA file goes out in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct WorkBuffer {
    uint8_t* data = nullptr;
    size_t size = 0;
};

// Makes the buffer hold `size` bytes. Whatever it held before is dropped, and
// dropped before the new room is taken, so two images are never held at once.
bool work_buffer_reserve(WorkBuffer& buffer, size_t size, std::string& error);
void work_buffer_release(WorkBuffer& buffer);
