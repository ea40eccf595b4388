#include <gtest/gtest.h>

#include <ctime>
#include <map>

#include "patch/ReleaseCheck.h"
#include "patch/SettingsStore.h"

namespace qr {
namespace {

constexpr UtcDate kToday{2026, 12, 8};

TEST(ReleaseCheck, ExpiryIsStrictAndLastsThroughItsDay) {
    EXPECT_EQ(CheckSignedRelease("101", "102", kAbsent, kToday), ReleaseRefusal::None);
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
    EXPECT_EQ(CheckSignedRelease("105", "104", kAbsent, kToday), ReleaseRefusal::LowerVersion);
    EXPECT_EQ(CheckSignedRelease("105", "99", kAbsent, kToday), ReleaseRefusal::LowerVersion);
    EXPECT_EQ(CheckSignedRelease("105", "105", kAbsent, kToday), ReleaseRefusal::None);
    EXPECT_EQ(CheckSignedRelease("105", "0105", kAbsent, kToday), ReleaseRefusal::None);
    EXPECT_EQ(CheckSignedRelease(kAbsent, "1", kAbsent, kToday), ReleaseRefusal::None);
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

    const ItemDigest a = LookUpItemDigest(lookup, list, "a.dat");
    ASSERT_EQ(a.state, DigestLineState::Present);
    EXPECT_EQ(a.digest.sha256Hex, hexA);
    EXPECT_EQ(a.digest.size, 5u);
    EXPECT_EQ(LookUpItemDigest(lookup, list, "b.dat").state, DigestLineState::Malformed);
    EXPECT_EQ(LookUpItemDigest(lookup, list, "c.dat").state, DigestLineState::Absent);
    EXPECT_EQ(LookUpItemDigest(lookup, list, "unlisted.dat").state, DigestLineState::Absent);
}

}  // namespace
}  // namespace qr
