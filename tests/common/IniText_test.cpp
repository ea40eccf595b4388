#include "common/IniText.h"

#include <gtest/gtest.h>

#include "tests/patch/IniCases.h"

namespace qr {
namespace {

TEST(IniText, LookupFollowsPrivateProfileRules) {
    for (const IniLookupCase& c : IniLookupCases()) {
        auto got = IniLookup(c.text, c.section, c.key);
        if (c.expected) {
            ASSERT_TRUE(got.has_value()) << c.label;
            EXPECT_EQ(*got, *c.expected) << c.label;
        } else {
            EXPECT_FALSE(got.has_value()) << c.label << " gave " << got.value_or("");
        }
    }
}

TEST(IniText, AssignChangesOneLineAndKeepsTheRest) {
    const std::string original = "; patch settings\r\n[VERSION]\r\nversion=100\r\nnote = keep me \r\n\r\n[Other]\r\nx=1\r\n";
    const std::string changed = IniAssign(original, "version", "VERSION", "103");
    EXPECT_EQ(changed, "; patch settings\r\n[VERSION]\r\nVERSION=103\r\nnote = keep me \r\n\r\n[Other]\r\nx=1\r\n");

    // A new key goes right after the last line of its section, before the blank separator.
    const std::string added = IniAssign(original, "VERSION", "build", "7");
    EXPECT_EQ(added, "; patch settings\r\n[VERSION]\r\nversion=100\r\nnote = keep me \r\nbuild=7\r\n\r\n[Other]\r\nx=1\r\n");

    // A new section is appended; a file without a final line break gets one first.
    EXPECT_EQ(IniAssign("[A]\nk=v", "B", "k2", "v2"), "[A]\nk=v\n[B]\nk2=v2\n");
    EXPECT_EQ(IniAssign("", "VERSION", "version", "101"), "[VERSION]\r\nversion=101\r\n");
    EXPECT_EQ(IniAssign("[A]", "A", "k", "v"), "[A]\nk=v\n");

    for (const IniLookupCase& c : IniLookupCases()) {
        // Whatever was there, the key reads back as written and other keys keep their values.
        const std::string text = IniAssign(c.text, c.section, c.key, "written");
        EXPECT_EQ(IniLookup(text, c.section, c.key).value_or("<none>"), "written") << c.label;
    }
}

}  // namespace
}  // namespace qr
