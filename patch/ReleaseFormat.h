// The additions a signed release makes to the patch description: per version a "NNN.sha256" section
// (key i: the digest of the bytes served for item i of "NNN") and a "NNN.contents" section (one line
// per archive entry as it lands), each value "<64 lowercase hex> <size>". Old launchers never read
// these sections, so the same description serves both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qr {

struct FileDigest {
    std::string sha256Hex;  // 64 lowercase hexadecimal characters
    uint64_t size = 0;
};

inline constexpr const char kHashSectionSuffix[] = ".sha256";
inline constexpr const char kContentsSectionSuffix[] = ".contents";
inline constexpr const char kSignatureSuffix[] = ".sig";

// "103" -> "103.sha256" / "103.contents"; the argument is the version's section name as it stands.
std::string HashSectionName(const std::string& versionSection);
std::string ContentsSectionName(const std::string& versionSection);

// Strict: exactly 64 lowercase hex digits, one blank, a decimal size without sign or leading zeros
// (a lone "0" is allowed) that fits in 63 bits. Anything else, trailing blanks included, is absent.
std::optional<FileDigest> ParseDigestLine(std::string_view value);
std::string FormatDigestLine(const FileDigest& digest);

}  // namespace qr
