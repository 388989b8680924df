#include "sys/work_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

bool WorkBuffer::reserve(size_t size, std::string& error) {
    release();
    if (size == 0) size = 1;

    bool huge = size >= kHugePage;
    size_t slack = huge ? kHugePage : 0;
    if (size > SIZE_MAX - slack) {
        error = "buffer size out of range";
        return false;
    }
    void* map = mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        error = std::strerror(errno);
        return false;
    }
    auto* start = static_cast<uint8_t*>(map);
    if (huge) {
        // Trim the mapping to a 2 MiB boundary at the front and to whole pages
        // past `size` at the back.
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t mapped = (size + page - 1) / page * page;
        auto address = reinterpret_cast<uintptr_t>(map);
        size_t head = (kHugePage - address % kHugePage) % kHugePage;
        if (head > 0) munmap(start, head);
        munmap(start + head + mapped, slack - head);
        start += head;
#ifdef MADV_HUGEPAGE
        madvise(start, size, MADV_HUGEPAGE);  // only advice: without it the buffer still works
#endif
    }
    data_ = start;
    size_ = size;
    return true;
}

void WorkBuffer::release() {
    if (data_ != nullptr) munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}
