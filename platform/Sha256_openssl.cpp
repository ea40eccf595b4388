#include <openssl/evp.h>

#include "platform/Sha256.h"

namespace qr {

struct Sha256::Impl {
    EVP_MD_CTX* context = nullptr;
    ~Impl() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    impl_->context = EVP_MD_CTX_new();
    ok_ = impl_->context && EVP_DigestInit_ex(impl_->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t length) {
    if (ok_ && length > 0 && EVP_DigestUpdate(impl_->context, data, length) != 1) ok_ = false;
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (!ok_ || EVP_DigestFinal_ex(impl_->context, digest.data(), &length) != 1 || length != digest.size()) {
        ok_ = false;
        digest.fill(0);
    }
    return digest;
}

}  // namespace qr
