#include "sys/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() = default;
Sha256::~Sha256() = default;

bool Sha256::begin(std::string& error) {
    state_ = std::make_unique<State>();
    NTSTATUS status = BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (BCRYPT_SUCCESS(status)) status = BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
    if (BCRYPT_SUCCESS(status)) return true;
    char text[64];
    std::snprintf(text, sizeof text, "SHA-256 cannot be computed (status 0x%08lx)", static_cast<unsigned long>(status));
    error = text;
    state_.reset();
    return false;
}

void Sha256::update(const uint8_t* data, size_t size) {
    // BCryptHashData takes at most 4 GiB - 1 bytes a call.
    while (size > 0) {
        ULONG part = static_cast<ULONG>(size < 0x40000000u ? size : 0x40000000u);
        BCryptHashData(state_->hash, const_cast<PUCHAR>(data), part, 0);
        data += part;
        size -= part;
    }
}

std::array<uint8_t, 32> Sha256::finish() {
    std::array<uint8_t, 32> digest{};
    BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    state_.reset();
    return digest;
}
