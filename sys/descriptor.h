// The one owner of an open file in the system layer: a descriptor that
// closes itself. On Windows it is a C runtime descriptor over a Win32 handle.
// Move-only, so that a file has exactly one owner at a time.
#pragma once

#include <string>

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    bool is_open() const { return fd_ >= 0; }
    // The number, for the system layer's own calls.
    int get() const { return fd_; }

    // Closes it, if open.
    void reset();
    // Closes it and says whether that worked: for a written file, a failed
    // close is a failed write. Closed afterwards either way.
    bool close(std::string& error);

    // Hands the descriptor to another owner (a C stream, say).
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};
