#include "tools/publish/ReleaseSigner.h"

#include <memory>

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>

namespace qr::publish {
namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

bool IsP256(EVP_PKEY* key) {
    if (EVP_PKEY_base_id(key) != EVP_PKEY_EC) return false;
    char group[64] = {};
    size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &length) != 1) return false;
    return std::string(group) == SN_X9_62_prime256v1;
}

std::unique_ptr<EVP_PKEY, KeyFree> ReadKey(const std::string& keyPem, std::string& problem) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        problem = "the key file holds no PEM private key (unencrypted; make one with: openssl ecparam -name prime256v1 "
                  "-genkey -noout -out key.pem)";
        return nullptr;
    }
    if (!IsP256(key.get())) {
        problem = "the key is not an ECDSA P-256 (prime256v1) key, which launchers expect";
        return nullptr;
    }
    return key;
}

}  // namespace

bool SignatureMatchesKey(const std::string& keyPem, std::string_view message, std::string_view derSignature,
                         std::string& problem) {
    std::unique_ptr<EVP_PKEY, KeyFree> key = ReadKey(keyPem, problem);
    if (!key) return false;
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(derSignature.data()),
                            derSignature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

std::optional<std::string> SignRelease(const std::string& keyPem, std::string_view message, std::string& problem) {
    std::unique_ptr<EVP_PKEY, KeyFree> key = ReadKey(keyPem, problem);
    if (!key) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        problem = "libcrypto could not sign";
        return std::nullopt;
    }
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&signature[0]), &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
        problem = "libcrypto could not sign";
        return std::nullopt;
    }
    signature.resize(length);
    return signature;
}

}  // namespace qr::publish
