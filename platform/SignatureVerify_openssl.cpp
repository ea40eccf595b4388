#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "platform/SignatureVerify.h"

namespace qr {
namespace {

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyContextDeleter {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};

}  // namespace

bool VerifyP256Signature(const P256PublicKey& key, const Sha256Digest& digest, const EcdsaRawSignature& signature) {
    const std::string spki = P256SubjectPublicKeyInfo(key);
    const auto* cursor = reinterpret_cast<const unsigned char*>(spki.data());
    std::unique_ptr<EVP_PKEY, PkeyDeleter> pkey(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(spki.size())));
    if (!pkey) return false;
    std::unique_ptr<EVP_PKEY_CTX, PkeyContextDeleter> context(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    if (!context || EVP_PKEY_verify_init(context.get()) != 1) return false;
    // libcrypto takes the DER form; re-encoding the checked raw form keeps what it sees minimal.
    const std::string der = EcdsaRawToDer(signature);
    return EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                           digest.data(), digest.size()) == 1;
}

}  // namespace qr
