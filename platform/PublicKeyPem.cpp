// Turns the built-in PEM text into the public point. P-256 keys in SubjectPublicKeyInfo form all share
// one 26-byte DER prefix (the id-ecPublicKey and prime256v1 identifiers and the BIT STRING header),
// so the check is an exact comparison rather than a general DER parser.
#include <cstring>
#include <string>

#include "platform/SignatureVerify.h"

namespace qr {
namespace {

constexpr unsigned char kP256SpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                             0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
constexpr unsigned char kUncompressedPoint = 0x04;
constexpr char kBegin[] = "-----BEGIN PUBLIC KEY-----";
constexpr char kEnd[] = "-----END PUBLIC KEY-----";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict base64 over the body lines: line breaks and blanks are skipped, padding only at the end.
std::optional<std::string> DecodeBase64(std::string_view text) {
    std::string out;
    unsigned bits = 0, bitCount = 0;
    size_t padding = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0 || padding > 0) return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            out.push_back(static_cast<char>((bits >> bitCount) & 0xff));
        }
    }
    // Two characters left over need "==", three need "=", and the unused bits must be zero.
    const size_t expectedPadding = bitCount == 4 ? 2 : bitCount == 2 ? 1 : 0;
    if (bitCount == 6 || padding != expectedPadding || (bits & ((1u << bitCount) - 1)) != 0) return std::nullopt;
    return out;
}

}  // namespace

std::string P256SubjectPublicKeyInfo(const P256PublicKey& key) {
    std::string der(reinterpret_cast<const char*>(kP256SpkiPrefix), sizeof kP256SpkiPrefix);
    der.push_back(static_cast<char>(kUncompressedPoint));
    der.append(reinterpret_cast<const char*>(key.xy.data()), key.xy.size());
    return der;
}

std::optional<P256PublicKey> ParseP256PublicKeyPem(std::string_view pem) {
    const size_t begin = pem.find(kBegin);
    if (begin == std::string_view::npos) return std::nullopt;
    const size_t bodyStart = begin + std::strlen(kBegin);
    const size_t end = pem.find(kEnd, bodyStart);
    if (end == std::string_view::npos || pem.find(kBegin, bodyStart) != std::string_view::npos) return std::nullopt;
    const auto der = DecodeBase64(pem.substr(bodyStart, end - bodyStart));
    constexpr size_t kPrefixLength = sizeof kP256SpkiPrefix;
    P256PublicKey key;
    if (!der || der->size() != kPrefixLength + 1 + key.xy.size()) return std::nullopt;
    if (std::memcmp(der->data(), kP256SpkiPrefix, kPrefixLength) != 0) return std::nullopt;
    if (static_cast<unsigned char>((*der)[kPrefixLength]) != kUncompressedPoint) return std::nullopt;
    std::memcpy(key.xy.data(), der->data() + kPrefixLength + 1, key.xy.size());
    return key;
}

}  // namespace qr
