#include "sys/work_buffer.h"

#include <windows.h>

#include "sys/win32_text.h"

bool WorkBuffer::reserve(size_t size, std::string& error) {
    release();
    if (size == 0) size = 1;
    // Large pages need a privilege users seldom have: ordinary pages serve.
    void* memory = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr) {
        error = last_reason();
        return false;
    }
    data_ = static_cast<uint8_t*>(memory);
    size_ = size;
    return true;
}

void WorkBuffer::release() {
    if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
    data_ = nullptr;
    size_ = 0;
}
