// A stand-in for libcrypto, loaded in its place through LD_LIBRARY_PATH,
// whose digest fails at the call FAILING_LIBCRYPTO names ("update" or
// "final"); with none named it gives a digest of zeros. It shows that a
// failed digest is told, never printed as a digest.
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

bool fails(const char* call) {
    const char* which = std::getenv("FAILING_LIBCRYPTO");
    return which != nullptr && std::strcmp(which, call) == 0;
}

}  // namespace

extern "C" {

void* EVP_MD_CTX_new() {
    static int context;
    return &context;
}
void EVP_MD_CTX_free(void*) {}
const void* EVP_sha256() {
    static int method;
    return &method;
}
int EVP_DigestInit_ex(void*, const void*, void*) { return 1; }
int EVP_DigestUpdate(void*, const void*, size_t) { return fails("update") ? 0 : 1; }
int EVP_DigestFinal_ex(void*, unsigned char* digest, unsigned int* size) {
    if (fails("final")) return 0;
    std::memset(digest, 0, 32);
    *size = 32;
    return 1;
}

}  // extern "C"
