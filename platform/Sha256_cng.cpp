#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "platform/Sha256.h"

namespace qr {

struct Sha256::Impl {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> hashObject;
    ~Impl() {
        if (hash) BCryptDestroyHash(hash);
        if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&impl_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
    DWORD objectLength = 0, written = 0;
    if (!BCRYPT_SUCCESS(BCryptGetProperty(impl_->algorithm, BCRYPT_OBJECT_LENGTH,
                                          reinterpret_cast<PUCHAR>(&objectLength), sizeof objectLength, &written, 0)))
        return;
    impl_->hashObject.resize(objectLength);
    ok_ = BCRYPT_SUCCESS(BCryptCreateHash(impl_->algorithm, &impl_->hash, impl_->hashObject.data(), objectLength,
                                          nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (ok_ && length > 0) {
        const ULONG part = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        if (!BCRYPT_SUCCESS(BCryptHashData(impl_->hash, const_cast<PUCHAR>(bytes), part, 0))) ok_ = false;
        bytes += part;
        length -= part;
    }
}

Sha256Digest Sha256::Finish() {
    Sha256Digest digest{};
    if (!ok_ || !BCRYPT_SUCCESS(BCryptFinishHash(impl_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        ok_ = false;
        digest.fill(0);
    }
    return digest;
}

}  // namespace qr
