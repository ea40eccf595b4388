#include "patch/ReleaseFormat.h"

namespace qr {

std::string HashSectionName(const std::string& versionSection) { return versionSection + kHashSectionSuffix; }

std::string ContentsSectionName(const std::string& versionSection) {
    return versionSection + kContentsSectionSuffix;
}

std::optional<FileDigest> ParseDigestLine(std::string_view value) {
    constexpr size_t kHexLength = 64;
    if (value.size() < kHexLength + 2 || value[kHexLength] != ' ') return std::nullopt;
    FileDigest digest;
    for (size_t i = 0; i < kHexLength; ++i) {
        const char c = value[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    }
    digest.sha256Hex.assign(value.substr(0, kHexLength));
    const std::string_view sizeText = value.substr(kHexLength + 1);
    if (sizeText.size() > 1 && sizeText[0] == '0') return std::nullopt;
    constexpr uint64_t kLimit = (uint64_t{1} << 63) - 1;
    uint64_t size = 0;
    for (char c : sizeText) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (size > (kLimit - digit) / 10) return std::nullopt;
        size = size * 10 + digit;
    }
    digest.size = size;
    return digest;
}

std::string FormatDigestLine(const FileDigest& digest) {
    return digest.sha256Hex + " " + std::to_string(digest.size);
}

}  // namespace qr
