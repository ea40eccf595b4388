// What a launcher with a release key built in demands of a patch description before it believes a
// word of it: a valid signature over its exact bytes, no step down to a lower version, and no
// expired or malformed expiry date. The patch run, verify and repair all ask here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qr {

// True only when `derSignature` is a valid signature of `description` under the PEM key.
bool DescriptionSignatureValid(std::string_view description, std::string_view derSignature,
                               std::string_view publicKeyPem);

struct UtcDate {
    int year = 0, month = 0, day = 0;
};
// Strict "YYYY-MM-DD" naming a real day.
std::optional<UtcDate> ParseExpiryDate(std::string_view text);
std::string FormatExpiryDate(const UtcDate& date);  // "YYYY-MM-DD"
UtcDate TodayUtc();
UtcDate UtcDateInDays(int days);  // today plus `days`
bool DateBefore(const UtcDate& a, const UtcDate& b);

enum class ReleaseRefusal { None, BadSignature, LowerVersion, Expired, MalformedExpiry, NoExpiry };

// `expires` is the [VERSION] value, "NULL" when absent: a signed description without a date could
// be replayed forever. The description stays valid through its expiry day.
ReleaseRefusal CheckSignedRelease(const std::string& installedVersion, const std::string& remoteVersion,
                                  const std::string& expires, const UtcDate& today);

struct DescriptionAcceptance {
    ReleaseRefusal refusal = ReleaseRefusal::None;
    std::string reason;  // which check failed, as one line; empty when accepted
    bool accepted() const { return refusal == ReleaseRefusal::None; }
};

// `signature` is what was served beside the description (empty when nothing was).
DescriptionAcceptance AcceptDescription(std::string_view description, std::string_view signature,
                                        std::string_view publicKeyPem, const std::string& installedVersion,
                                        const UtcDate& today);

}  // namespace qr
