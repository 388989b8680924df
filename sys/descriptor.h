// The one owner of an open file in the system layer: a descriptor that
// closes itself. On Windows it is a C runtime descriptor over a Win32 handle.
// Move-only, so that a file has exactly one owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The calls on an open file, for its owners. Each returns true on success;
// on failure it fills `error` with the reason and leaves the printing to the
// caller.

// One read: `got` is 0 at the end of the file (or of a pipe whose writer
// closed it). One write: `wrote` bytes went. On the bare number, for the
// system layer's own code, which also writes standard output's.
bool fd_read_some(int fd, uint8_t* data, size_t size, size_t& got, std::string& error);
bool fd_write_some(int fd, const uint8_t* data, size_t size, size_t& wrote, std::string& error);
constexpr int kStandardOutput = 1;

bool file_read_up_to(const Descriptor& fd, uint8_t* data, size_t size, size_t& done, std::string& error);
bool file_write_all(const Descriptor& fd, const uint8_t* data, size_t size, std::string& error);
// Moves to `offset` from the file's start.
bool file_seek(const Descriptor& fd, uint64_t offset, std::string& error);
// Writes the file's data through to the disk.
bool file_sync(const Descriptor& fd, std::string& error);

// The permission bits a new file gets (0666 less the umask), and a file's
// bits set (nothing on Windows, which has none).
uint32_t new_file_permissions();
bool file_set_permissions(const Descriptor& fd, uint32_t permissions, std::string& error);
