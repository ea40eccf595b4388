#include "release/ReleaseAcceptance.h"

#include <cstdio>
#include <ctime>
#include <tuple>

#include "common/IniText.h"
#include "platform/EcdsaDer.h"
#include "platform/Sha256.h"
#include "platform/SignatureVerify.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ReadDigits(std::string_view text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

bool DateBefore(const UtcDate& a, const UtcDate& b) {
    return std::tie(a.year, a.month, a.day) < std::tie(b.year, b.month, b.day);
}

std::string FormatExpiryDate(const UtcDate& date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

bool DescriptionSignatureValid(std::string_view description, std::string_view derSignature,
                               std::string_view publicKeyPem) {
    const auto key = ParseP256PublicKeyPem(publicKeyPem);
    const auto signature = EcdsaDerToRaw(derSignature);
    if (!key || !signature) return false;
    Sha256 hash;
    hash.Update(description.data(), description.size());
    const Sha256Digest digest = hash.Finish();
    return hash.ok() && VerifyP256Signature(*key, digest, *signature);
}

std::optional<UtcDate> ParseExpiryDate(std::string_view text) {
    UtcDate date;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    if (!ReadDigits(text, 0, 4, date.year) || !ReadDigits(text, 5, 2, date.month) ||
        !ReadDigits(text, 8, 2, date.day))
        return std::nullopt;
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > DaysInMonth(date.year, date.month))
        return std::nullopt;
    return date;
}

UtcDate TodayUtc() { return UtcDateInDays(0); }

UtcDate UtcDateInDays(int daysAhead) {
    // Days since 1970-01-01 to a civil date, without gmtime's shared buffer.
    long long days = static_cast<long long>(std::time(nullptr)) / 86400 + daysAhead;
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
    UtcDate today;
    today.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    today.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    today.year = static_cast<int>(yearOfEra + era * 400 + (today.month <= 2 ? 1 : 0));
    return today;
}

ReleaseRefusal CheckSignedRelease(const std::string& installedVersion, const std::string& remoteVersion,
                                  const std::string& expires, const UtcDate& today) {
    if (expires == kAbsent) return ReleaseRefusal::NoExpiry;
    const auto date = ParseExpiryDate(expires);
    if (!date) return ReleaseRefusal::MalformedExpiry;
    if (DateBefore(*date, today)) return ReleaseRefusal::Expired;
    if (installedVersion != remoteVersion && VersionNumber(remoteVersion) < VersionNumber(installedVersion))
        return ReleaseRefusal::LowerVersion;
    return ReleaseRefusal::None;
}

DescriptionAcceptance AcceptDescription(std::string_view description, std::string_view signature,
                                        std::string_view publicKeyPem, const std::string& installedVersion,
                                        const UtcDate& today) {
    DescriptionAcceptance result;
    if (signature.empty() || !DescriptionSignatureValid(description, signature, publicKeyPem)) {
        result.refusal = ReleaseRefusal::BadSignature;
        result.reason = "the patch description's signature does not verify";
        return result;
    }
    // The same bytes the signature covers, read by the same INI rules as the store reads them.
    const std::string remote = IniLookup(description, "VERSION", "version").value_or(kAbsent);
    const std::string expires = IniLookup(description, "VERSION", "expires").value_or(kAbsent);
    result.refusal = CheckSignedRelease(installedVersion, remote, expires, today);
    switch (result.refusal) {
        case ReleaseRefusal::None:
        case ReleaseRefusal::BadSignature: break;
        case ReleaseRefusal::LowerVersion:
            result.reason = "refused: the description's version " + remote + " is below the installed " + installedVersion;
            break;
        case ReleaseRefusal::NoExpiry:
            result.reason = "refused: the description has no expiry date";
            break;
        case ReleaseRefusal::Expired:
        case ReleaseRefusal::MalformedExpiry:
            result.reason = "refused: the description has expired (" + expires + ")";
            break;
    }
    return result;
}

}  // namespace qr
