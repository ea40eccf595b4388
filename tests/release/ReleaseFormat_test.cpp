#include <gtest/gtest.h>

#include "release/ReleaseDescription.h"
#include "platform/Sha256.h"

namespace qr {
namespace {

TEST(ReleaseFormat, DigestOfKnownBytesAndTheLineRoundTrip) {
    // The digest of "test", as sha256sum prints it.
    const std::string hex = DigestHex(Sha256Of("test"));
    EXPECT_EQ(hex, "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    const auto parsed = ParseDigestLine(hex + " 1048576");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sha256Hex, hex);
    EXPECT_EQ(parsed->size, 1048576u);
    EXPECT_EQ(FormatDigestLine(*parsed), hex + " 1048576");

    Sha256 pieces;
    pieces.Update("te", 2);
    pieces.Update("st", 2);
    EXPECT_EQ(DigestHex(pieces.Finish()), hex);
}

TEST(ReleaseFormat, MalformedDigestLinesAreAbsent) {
    const std::string hex(64, 'a');
    EXPECT_TRUE(ParseDigestLine(hex + " 0"));
    EXPECT_TRUE(ParseDigestLine(hex + " 9223372036854775807"));
    for (const std::string& bad : {std::string(), hex, hex + " ", hex + " 01", hex + " -1", hex + " 1 ",
                                   hex + "  1", hex + " 9223372036854775808", std::string(64, 'A') + " 1",
                                   std::string(63, 'a') + " 1", hex + "a 1", hex + "\t1", hex + " 1x"}) {
        EXPECT_FALSE(ParseDigestLine(bad)) << bad;
    }
}

TEST(ReleaseFormat, SectionNames) {
    EXPECT_EQ(HashSectionName("103"), "103.sha256");
    EXPECT_EQ(ContentsSectionName("103"), "103.contents");
}

}  // namespace
}  // namespace qr
