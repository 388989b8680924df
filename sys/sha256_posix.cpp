#include "sys/sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() = default;
Sha256::~Sha256() = default;

bool Sha256::begin(std::string& error) {
    state_ = std::make_unique<State>();
    state_->context = EVP_MD_CTX_new();
    if (state_->context && EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1) return true;
    char reason[256];
    ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
    error = std::string("SHA-256 cannot be computed: ") + reason;
    state_.reset();
    return false;
}

void Sha256::update(const uint8_t* data, size_t size) { EVP_DigestUpdate(state_->context, data, size); }

std::array<uint8_t, 32> Sha256::finish() {
    std::array<uint8_t, 32> digest{};
    unsigned int size = 0;
    EVP_DigestFinal_ex(state_->context, digest.data(), &size);
    state_.reset();
    return digest;
}
