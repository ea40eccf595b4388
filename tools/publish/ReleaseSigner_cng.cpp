#include "tools/publish/ReleaseSigner.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/EcdsaDer.h"
#include "platform/Sha256.h"

namespace qr::publish {
namespace {

constexpr size_t kScalar = kP256ScalarBytes;
const uint8_t kP256Oid[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};  // 1.2.840.10045.3.1.7

// Reads the DER elements of a key file: tag, definite length, contents; bounds-checked.
class DerReader {
public:
    DerReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool Next(uint8_t tag, DerReader& contents) {
        if (end_ - p_ < 2 || p_[0] != tag) return false;
        size_t length = p_[1];
        const uint8_t* at = p_ + 2;
        if (length & 0x80) {
            const size_t bytes = length & 0x7f;
            if (bytes == 0 || bytes > 2 || static_cast<size_t>(end_ - at) < bytes) return false;
            length = 0;
            for (size_t i = 0; i < bytes; ++i) length = (length << 8) | *at++;
        }
        if (static_cast<size_t>(end_ - at) < length) return false;
        contents = DerReader(at, length);
        p_ = at + length;
        return true;
    }
    bool Peek(uint8_t tag) const { return end_ - p_ >= 1 && p_[0] == tag; }
    const uint8_t* data() const { return p_; }
    size_t size() const { return static_cast<size_t>(end_ - p_); }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

bool IsP256Oid(const DerReader& oid) {
    return oid.size() == sizeof kP256Oid && std::memcmp(oid.data(), kP256Oid, sizeof kP256Oid) == 0;
}

struct KeyParts {
    std::vector<uint8_t> x, y, d;
};

// SEC 1 ECPrivateKey: version 1, the private scalar, [0] the curve, [1] the public point.
bool ReadEcPrivateKey(DerReader der, bool curveKnown, KeyParts& key, std::string& problem) {
    DerReader sequence(nullptr, 0), version(nullptr, 0), scalar(nullptr, 0);
    if (!der.Next(0x30, sequence) || !sequence.Next(0x02, version) || !sequence.Next(0x04, scalar) ||
        scalar.size() == 0) {
        problem = "the key file's private key cannot be read";
        return false;
    }
    if (scalar.size() > kScalar) {
        problem = "the key is not an ECDSA P-256 (prime256v1) key, which launchers expect";
        return false;
    }
    key.d.assign(kScalar - scalar.size(), 0);
    key.d.insert(key.d.end(), scalar.data(), scalar.data() + scalar.size());
    DerReader tagged(nullptr, 0), inner(nullptr, 0);
    if (sequence.Peek(0xa0)) {
        sequence.Next(0xa0, tagged);
        if (!tagged.Next(0x06, inner) || !IsP256Oid(inner)) {
            problem = "the key is not an ECDSA P-256 (prime256v1) key, which launchers expect";
            return false;
        }
        curveKnown = true;
    }
    if (!curveKnown) {
        problem = "the key file does not say its curve";
        return false;
    }
    if (!sequence.Next(0xa1, tagged) || !tagged.Next(0x03, inner) || inner.size() != 2 + 2 * kScalar ||
        inner.data()[0] != 0 || inner.data()[1] != 0x04) {
        problem = "the key file lacks its public half; rewrite it with: openssl ec -in KEY.pem -out KEY.pem";
        return false;
    }
    key.x.assign(inner.data() + 2, inner.data() + 2 + kScalar);
    key.y.assign(inner.data() + 2 + kScalar, inner.data() + 2 + 2 * kScalar);
    return true;
}

// PKCS #8 PrivateKeyInfo: version 0, the algorithm with its curve, the SEC 1 key in an octet string.
bool ReadPkcs8(DerReader der, KeyParts& key, std::string& problem) {
    DerReader sequence(nullptr, 0), version(nullptr, 0), algorithm(nullptr, 0), id(nullptr, 0), curve(nullptr, 0),
        inner(nullptr, 0);
    if (!der.Next(0x30, sequence) || !sequence.Next(0x02, version) || !sequence.Next(0x30, algorithm) ||
        !algorithm.Next(0x06, id) || !algorithm.Next(0x06, curve) || !sequence.Next(0x04, inner)) {
        problem = "the key file's private key cannot be read";
        return false;
    }
    if (!IsP256Oid(curve)) {
        problem = "the key is not an ECDSA P-256 (prime256v1) key, which launchers expect";
        return false;
    }
    return ReadEcPrivateKey(inner, true, key, problem);
}

std::optional<std::vector<uint8_t>> PemBody(const std::string& pem, const std::string& label) {
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    const size_t from = pem.find(begin);
    const size_t to = from == std::string::npos ? from : pem.find(end, from);
    if (to == std::string::npos) return std::nullopt;
    const std::string body = pem.substr(from + begin.size(), to - from - begin.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(body.c_str(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64, nullptr, &size,
                              nullptr, nullptr))
        return std::nullopt;
    std::vector<uint8_t> der(size);
    if (!CryptStringToBinaryA(body.c_str(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64, der.data(), &size,
                              nullptr, nullptr))
        return std::nullopt;
    der.resize(size);
    return der;
}

struct AlgorithmClose {
    void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct KeyDestroy {
    void operator()(BCRYPT_KEY_HANDLE h) const { BCryptDestroyKey(h); }
};

// The key pair as CNG holds it; both halves, so it signs and verifies.
struct ImportedKey {
    std::unique_ptr<void, AlgorithmClose> algorithm;
    std::unique_ptr<void, KeyDestroy> key;
};

std::optional<ImportedKey> ImportKey(const std::string& keyPem, std::string& problem) {
    KeyParts key;
    if (auto der = PemBody(keyPem, "EC PRIVATE KEY")) {
        if (!ReadEcPrivateKey(DerReader(der->data(), der->size()), false, key, problem)) return std::nullopt;
    } else if (auto pkcs8 = PemBody(keyPem, "PRIVATE KEY")) {
        if (!ReadPkcs8(DerReader(pkcs8->data(), pkcs8->size()), key, problem)) return std::nullopt;
    } else {
        problem = "the key file holds no PEM private key (unencrypted; make one with: openssl ecparam -name prime256v1 "
                  "-genkey -noout -out key.pem)";
        return std::nullopt;
    }

    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
        problem = "CNG offers no ECDSA P-256";
        return std::nullopt;
    }
    ImportedKey imported;
    imported.algorithm.reset(rawAlgorithm);
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB));
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, static_cast<ULONG>(kScalar)};
    std::memcpy(blob.data(), &header, sizeof header);
    blob.insert(blob.end(), key.x.begin(), key.x.end());
    blob.insert(blob.end(), key.y.begin(), key.y.end());
    blob.insert(blob.end(), key.d.begin(), key.d.end());
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    const NTSTATUS status = BCryptImportKeyPair(rawAlgorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &rawKey, blob.data(),
                                                static_cast<ULONG>(blob.size()), 0);
    SecureZeroMemory(blob.data(), blob.size());
    if (status != 0) {
        problem = "CNG refused the key";
        return std::nullopt;
    }
    imported.key.reset(rawKey);
    return imported;
}

}  // namespace

bool SignatureMatchesKey(const std::string& keyPem, std::string_view message, std::string_view derSignature,
                         std::string& problem) {
    std::optional<ImportedKey> imported = ImportKey(keyPem, problem);
    if (!imported) return false;
    std::optional<EcdsaRawSignature> raw = EcdsaDerToRaw(derSignature);
    if (!raw) return false;
    Sha256Digest digest = Sha256Of(message);
    return BCryptVerifySignature(imported->key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                 raw->data(), static_cast<ULONG>(raw->size()), 0) == 0;
}

std::optional<std::string> SignRelease(const std::string& keyPem, std::string_view message, std::string& problem) {
    std::optional<ImportedKey> imported = ImportKey(keyPem, problem);
    if (!imported) return std::nullopt;
    Sha256Digest digest = Sha256Of(message);
    EcdsaRawSignature raw{};
    ULONG length = 0;
    if (BCryptSignHash(imported->key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()), raw.data(),
                       static_cast<ULONG>(raw.size()), &length, 0) != 0 ||
        length != raw.size()) {
        problem = "CNG could not sign";
        return std::nullopt;
    }
    return EcdsaRawToDer(raw);
}

}  // namespace qr::publish
