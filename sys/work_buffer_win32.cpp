#include "sys/work_buffer.h"

#include <windows.h>

#include "sys/win32_text.h"

bool work_buffer_reserve(WorkBuffer& buffer, size_t size, std::string& error) {
    work_buffer_release(buffer);
    if (size == 0) size = 1;
    // Large pages need a privilege users seldom have: ordinary pages serve.
    void* memory = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (memory == nullptr) {
        error = last_reason();
        return false;
    }
    buffer.data = static_cast<uint8_t*>(memory);
    buffer.size = size;
    return true;
}

void work_buffer_release(WorkBuffer& buffer) {
    if (buffer.data != nullptr) VirtualFree(buffer.data, 0, MEM_RELEASE);
    buffer.data = nullptr;
    buffer.size = 0;
}

WorkBuffer::~WorkBuffer() { work_buffer_release(*this); }
