// SHA-256 from the system's crypto library: libcrypto on POSIX systems, CNG
// (BCrypt) on Windows. Only a run that asks for digests makes one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    ~Sha256();

    // Starts a digest; false, with the library's reason, when it cannot.
    bool begin(std::string& error);
    // Adds bytes; a part the library fails on is remembered, and told by finish.
    void update(const uint8_t* data, size_t size);
    // The digest of everything given since begin; false, with the reason,
    // when the library failed on any of it (no digest is better than a wrong one).
    bool finish(std::array<uint8_t, 32>& digest, std::string& error);

private:
    struct State;  // the library's context, defined by each platform's file
    std::unique_ptr<State> state_;
};
