#include <gtest/gtest.h>

#include <ctime>
#include <map>

#include "release/ReleaseAcceptance.h"
#include "release/ReleaseDescription.h"
#include "tests/support/DemoSigner.h"

namespace qr {
namespace {

constexpr UtcDate kToday{2026, 12, 8};

// The digest line of a listed name; Absent when the list does not hold it.
ItemDigest DigestOf(const DownloadListResult& list, const std::string& name) {
    for (size_t i = 0; i < list.names.size(); ++i)
        if (list.names[i] == name) return list.digests[i];
    return {};
}

TEST(ReleaseCheck, ExpiryIsStrictAndLastsThroughItsDay) {
    // Without a date a signed description could be replayed forever.
    EXPECT_EQ(CheckSignedRelease("101", "102", kAbsent, kToday), ReleaseRefusal::NoExpiry);
    EXPECT_EQ(CheckSignedRelease("102", "102", kAbsent, kToday), ReleaseRefusal::NoExpiry);
    EXPECT_EQ(CheckSignedRelease("101", "102", "2026-12-08", kToday), ReleaseRefusal::None);
    EXPECT_EQ(CheckSignedRelease("101", "102", "2027-01-01", kToday), ReleaseRefusal::None);
    EXPECT_EQ(CheckSignedRelease("101", "102", "2026-12-07", kToday), ReleaseRefusal::Expired);
    EXPECT_EQ(CheckSignedRelease("101", "102", "1999-12-31", kToday), ReleaseRefusal::Expired);
    EXPECT_EQ(CheckSignedRelease("102", "102", "2026-11-30", kToday), ReleaseRefusal::Expired);
    for (const char* bad : {"", "2026-1-08", "2026-13-01", "2026-02-30", "2025-02-29", "2026/12/08", "2026-12-08 ",
                            "+026-12-08", "20261208", "tomorrow"}) {
        EXPECT_EQ(CheckSignedRelease("101", "102", bad, kToday), ReleaseRefusal::MalformedExpiry) << bad;
    }
    ASSERT_TRUE(ParseExpiryDate("2024-02-29"));
    EXPECT_EQ(ParseExpiryDate("2024-02-29")->day, 29);
}

TEST(ReleaseCheck, NoStepDownButEqualTextIsUpToDate) {
    EXPECT_EQ(CheckSignedRelease("105", "104", "2027-01-01", kToday), ReleaseRefusal::LowerVersion);
    EXPECT_EQ(CheckSignedRelease("105", "99", "2027-01-01", kToday), ReleaseRefusal::LowerVersion);
    EXPECT_EQ(CheckSignedRelease("105", "105", "2027-01-01", kToday), ReleaseRefusal::None);
    EXPECT_EQ(CheckSignedRelease("105", "0105", "2027-01-01", kToday), ReleaseRefusal::None);
    EXPECT_EQ(CheckSignedRelease(kAbsent, "1", "2027-01-01", kToday), ReleaseRefusal::None);
}

TEST(ReleaseCheck, TodayIsTheCalendarDayInUtc) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    const UtcDate today = TodayUtc();
    // A day boundary between the two readings is the only allowed difference.
    if (today.day == parts.tm_mday) {
        EXPECT_EQ(today.year, parts.tm_year + 1900);
        EXPECT_EQ(today.month, parts.tm_mon + 1);
    }
}

TEST(ReleaseCheck, DigestLinesAreFoundWhereTheNameFirstAppears) {
    const std::string hexA(64, 'a'), hexB(64, 'b');
    std::map<std::pair<std::string, std::string>, std::string> ini = {
        {{"102", "0"}, "a.dat"},           {{"102", "1"}, "b.dat"},
        {{"103", "0"}, "a.dat"},           {{"103", "1"}, "c.dat"},
        {{"102.sha256", "0"}, hexA + " 5"}, {{"102.sha256", "1"}, hexB + " x"},
        {{"103.sha256", "0"}, hexB + " 9"},
    };
    const PatchInfoLookup lookup = [&ini](const std::string& section, const std::string& key) {
        auto found = ini.find({section, key});
        return found == ini.end() ? std::string(kAbsent) : found->second;
    };
    const DownloadListResult list = BuildDownloadList("101", "103", lookup);
    ASSERT_EQ(list.names, (std::vector<std::string>{"a.dat", "b.dat", "c.dat"}));
    ASSERT_EQ(list.origins.size(), 3u);
    EXPECT_EQ(list.origins[2].section, "103");
    EXPECT_EQ(list.origins[2].key, "1");

    const ItemDigest a = DigestOf(list, "a.dat");
    ASSERT_EQ(a.state, DigestLineState::Present);
    EXPECT_EQ(a.digest.sha256Hex, hexA);
    EXPECT_EQ(a.digest.size, 5u);
    EXPECT_EQ(DigestOf(list, "b.dat").state, DigestLineState::Malformed);
    EXPECT_EQ(DigestOf(list, "c.dat").state, DigestLineState::Absent);
    EXPECT_EQ(DigestOf(list, "unlisted.dat").state, DigestLineState::Absent);
}

#ifndef _WIN32
// One decision for the patch run, verify and repair, with the reason the front-ends print.
TEST(ReleaseAcceptance, EachRefusalSaysWhichCheckFailed) {
    const std::string key = test::DemoPublicKeyPem();
    auto accept = [&](const std::string& description, const std::string& signature, const std::string& installed) {
        return AcceptDescription(description, signature, key, installed, kToday);
    };
    const std::string good = "[VERSION]\r\nversion=102\r\nexpires=2026-12-31\r\n[102]\r\n0=a.txt\r\n";
    const std::string signature = test::SignWithDemoKey(good);
    EXPECT_TRUE(accept(good, signature, "101").accepted());
    EXPECT_TRUE(accept(good, signature, "102").reason.empty());

    for (const std::string& bad : {std::string(), std::string("not DER"), test::SignWithDemoKey(good + " ")}) {
        const DescriptionAcceptance a = accept(good, bad, "101");
        EXPECT_EQ(a.refusal, ReleaseRefusal::BadSignature);
        EXPECT_EQ(a.reason, "the patch description's signature does not verify");
    }
    // One byte more than was signed is another description.
    EXPECT_EQ(accept(good + "\r\n", signature, "101").refusal, ReleaseRefusal::BadSignature);

    const DescriptionAcceptance lower = accept(good, signature, "103");
    EXPECT_EQ(lower.refusal, ReleaseRefusal::LowerVersion);
    EXPECT_EQ(lower.reason, "refused: the description's version 102 is below the installed 103");

    const std::string expired = "[VERSION]\r\nversion=102\r\nexpires=2026-12-07\r\n";
    EXPECT_EQ(accept(expired, test::SignWithDemoKey(expired), "101").reason,
              "refused: the description has expired (2026-12-07)");
    const std::string undated = "[VERSION]\r\nversion=102\r\n[102]\r\n0=a.txt\r\n";
    EXPECT_EQ(accept(undated, test::SignWithDemoKey(undated), "101").reason, "refused: the description has no expiry date");
    const std::string malformed = "[version]\r\nVersion=102\r\nEXPIRES=soon\r\n";
    EXPECT_EQ(accept(malformed, test::SignWithDemoKey(malformed), "101").refusal, ReleaseRefusal::MalformedExpiry);
}
#endif

}  // namespace
}  // namespace qr
