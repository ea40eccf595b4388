// What a launcher with a release key built in demands of a patch description: a valid signature over
// its exact bytes, no step down to a lower version, no expired description, and a digest line for
// every item it brings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "patch/PatchList.h"
#include "patch/ReleaseFormat.h"

namespace qr {

// Largest signature file read; a DER P-256 signature takes at most 72 bytes.
inline constexpr size_t kMaxSignatureBytes = 256;

// True only when `derSignature` is a valid signature of `description` under the PEM key.
bool DescriptionSignatureValid(std::string_view description, std::string_view derSignature,
                               std::string_view publicKeyPem);

struct UtcDate {
    int year = 0, month = 0, day = 0;
};
// Strict "YYYY-MM-DD" naming a real day.
std::optional<UtcDate> ParseExpiryDate(std::string_view text);
UtcDate TodayUtc();

enum class ReleaseRefusal { None, LowerVersion, Expired, MalformedExpiry };

// `expires` is the [VERSION] value, "NULL" when absent. The description stays valid through its
// expiry day.
ReleaseRefusal CheckSignedRelease(const std::string& installedVersion, const std::string& remoteVersion,
                                  const std::string& expires, const UtcDate& today);

enum class DigestLineState { Absent, Malformed, Present };
struct ItemDigest {
    DigestLineState state = DigestLineState::Absent;
    FileDigest digest;  // meaningful when Present
};

// The digest line that describes an item: key `origin.key` of the hash section of `origin.section`.
ItemDigest LookUpItemDigest(const PatchInfoLookup& lookup, const ItemOrigin& origin);
// The same for a name of the list; Absent when the list does not hold it.
ItemDigest LookUpItemDigest(const PatchInfoLookup& lookup, const DownloadListResult& list, const std::string& name);

}  // namespace qr
