#ifndef _WIN32
#include "tests/support/DemoSigner.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "tests/support/TempDir.h"

namespace qr::test {
namespace {

const std::string kKeyDir = std::string(QR_SOURCE_DIR) + "/tools/demo-keys/";

}  // namespace

std::string SignWithDemoKey(const std::string& bytes) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen((kKeyDir + "demo-release-key.pem").c_str(), "rb"),
                                                         &std::fclose);
    if (!file) throw std::runtime_error("demo key missing");
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr),
                                                       &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    size_t length = 0;
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
        throw std::runtime_error("cannot sign");
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&signature[0]), &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
        throw std::runtime_error("cannot sign");
    signature.resize(length);
    return signature;
}

std::string DemoPublicKeyPem() { return ReadFileBytes(kKeyDir + "demo-release-key.pub.pem"); }

}  // namespace qr::test
#endif
