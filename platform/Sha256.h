// SHA-256 from the platform: CNG on Windows, OpenSSL's libcrypto elsewhere. Used to check that the
// bytes a server sent are the bytes the release describes, and by the publishing tool to describe them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qr {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once the platform failed (no provider); the digest is then all zero and must not match.
    bool ok() const { return ok_; }
    void Update(const void* data, size_t length);
    // Ends the hash; the object may not be updated afterwards.
    Sha256Digest Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool ok_ = false;
};

// Lowercase hexadecimal, 64 characters.
std::string DigestHex(const Sha256Digest& digest);

// The digest of a whole byte string.
Sha256Digest Sha256Of(std::string_view bytes);

}  // namespace qr
