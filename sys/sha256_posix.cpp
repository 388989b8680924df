#include "sys/sha256.h"

#include <openssl/evp.h>

#include <dlfcn.h>

#include <type_traits>

namespace {

// The calls a digest makes, with libcrypto's own types (the package's
// dependency on libcrypto is reckoned from them: cmake/LibcryptoDepends.cmake).
struct Libcrypto {
    decltype(&EVP_MD_CTX_new) ctx_new;
    decltype(&EVP_MD_CTX_free) ctx_free;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_DigestInit_ex) init;
    decltype(&EVP_DigestUpdate) update;
    decltype(&EVP_DigestFinal_ex) final;
};

// The shared libcrypto is loaded on the first digest, not at start: loading
// it costs every run about 3 ms, which a run without --sha256 need not pay.
const Libcrypto* libcrypto(std::string& error) {
    static const Libcrypto* loaded = [] {
        void* library = dlopen(OTA_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return static_cast<const Libcrypto*>(nullptr);
        static Libcrypto calls;
        bool found = true;
        auto find = [&](auto& call, const char* name) {
            call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(library, name));
            found = found && call != nullptr;
        };
        find(calls.ctx_new, "EVP_MD_CTX_new");
        find(calls.ctx_free, "EVP_MD_CTX_free");
        find(calls.sha256, "EVP_sha256");
        find(calls.init, "EVP_DigestInit_ex");
        find(calls.update, "EVP_DigestUpdate");
        find(calls.final, "EVP_DigestFinal_ex");
        return found ? static_cast<const Libcrypto*>(&calls) : nullptr;
    }();
    if (loaded == nullptr) error = "SHA-256 cannot be computed: " OTA_LIBCRYPTO_SONAME " cannot be loaded";
    return loaded;
}

}  // namespace

struct Sha256::State {
    const Libcrypto* calls = nullptr;
    EVP_MD_CTX* context = nullptr;
    bool failed = false;  // an update the library refused
    ~State() {
        if (context) calls->ctx_free(context);
    }
};

Sha256::Sha256() = default;
Sha256::~Sha256() = default;

bool Sha256::begin(std::string& error) {
    const Libcrypto* calls = libcrypto(error);
    if (calls == nullptr) return false;
    state_ = std::make_unique<State>();
    state_->calls = calls;
    state_->context = calls->ctx_new();
    if (state_->context && calls->init(state_->context, calls->sha256(), nullptr) == 1) return true;
    error = "SHA-256 cannot be computed: libcrypto refused to start a digest";
    state_.reset();
    return false;
}

void Sha256::update(const uint8_t* data, size_t size) {
    if (!state_->failed && state_->calls->update(state_->context, data, size) != 1) state_->failed = true;
}

bool Sha256::finish(std::array<uint8_t, 32>& digest, std::string& error) {
    unsigned int size = 0;
    const bool done =
        !state_->failed && state_->calls->final(state_->context, digest.data(), &size) == 1 && size == digest.size();
    state_.reset();
    if (!done) error = "SHA-256 cannot be computed: libcrypto failed on the digest";
    return done;
}
