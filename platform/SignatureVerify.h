// ECDSA P-256 signature checks from the platform: CNG on Windows, OpenSSL's libcrypto elsewhere.
// The key is built into the program as PEM text (SubjectPublicKeyInfo, as `openssl ec -pubout` writes);
// decoding it is portable.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/EcdsaDer.h"
#include "platform/Sha256.h"

namespace qr {

// The public point, X then Y, each 32 bytes big-endian.
struct P256PublicKey {
    std::array<uint8_t, 2 * kP256ScalarBytes> xy{};
};

// Absent unless `pem` holds exactly one "PUBLIC KEY" block whose content is an uncompressed P-256 key.
std::optional<P256PublicKey> ParseP256PublicKeyPem(std::string_view pem);
// The key's DER SubjectPublicKeyInfo again.
std::string P256SubjectPublicKeyInfo(const P256PublicKey& key);

// True only when the platform confirms that `signature` signs `digest` under `key`.
bool VerifyP256Signature(const P256PublicKey& key, const Sha256Digest& digest, const EcdsaRawSignature& signature);

}  // namespace qr
