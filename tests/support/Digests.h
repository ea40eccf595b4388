// The digest of bytes held in memory, and its line as a description writes it.
#pragma once

#include <string>

#include "platform/Sha256.h"
#include "release/ReleaseDescription.h"

namespace qr::test {

inline FileDigest DigestOf(const std::string& bytes) { return {DigestHex(Sha256Of(bytes)), bytes.size()}; }
inline std::string DigestLineOf(const std::string& bytes) { return FormatDigestLine(DigestOf(bytes)); }

}  // namespace qr::test
