#include "sys/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    NTSTATUS failure = 0;  // of an update the library refused
    ~State() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() = default;
Sha256::~Sha256() = default;

namespace {

std::string failure(NTSTATUS status) {
    char text[64];
    std::snprintf(text, sizeof text, "SHA-256 cannot be computed (status 0x%08lx)", static_cast<unsigned long>(status));
    return text;
}

}  // namespace

bool Sha256::begin(std::string& error) {
    state_ = std::make_unique<State>();
    NTSTATUS status = BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (BCRYPT_SUCCESS(status)) status = BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
    if (BCRYPT_SUCCESS(status)) return true;
    error = failure(status);
    state_.reset();
    return false;
}

void Sha256::update(const uint8_t* data, size_t size) {
    // BCryptHashData takes at most 4 GiB - 1 bytes a call.
    while (size > 0 && BCRYPT_SUCCESS(state_->failure)) {
        ULONG part = static_cast<ULONG>(size < 0x40000000u ? size : 0x40000000u);
        state_->failure = BCryptHashData(state_->hash, const_cast<PUCHAR>(data), part, 0);
        data += part;
        size -= part;
    }
}

bool Sha256::finish(std::array<uint8_t, 32>& digest, std::string& error) {
    NTSTATUS status = !BCRYPT_SUCCESS(state_->failure)
                          ? state_->failure
                          : BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    state_.reset();
    if (BCRYPT_SUCCESS(status)) return true;
    error = failure(status);
    return false;
}
