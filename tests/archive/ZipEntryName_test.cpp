// Entry names as the reader hands them to extraction: UTF-8 names (flag bit 11) converted strictly to
// code page 949, unflagged names taken as code page 949 bytes, then normalised and checked. Runs
// natively (iconv) and under Wine (the Win32 conversions), so both twins are held to one answer.
#include <gtest/gtest.h>

#include "archive/ZipReader.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::ZipBuilder;

struct NameCase {
    const char* label;
    std::string stored;
    bool utf8Flag;
    std::string path;          // expected when accepted
    bool directory;
    std::string refusalPart;   // expected part of the reason when refused
};

std::vector<NameCase> NameCases() {
    const std::string hangulCp949 = "\xC7\xD1\xB1\xDB";  // "한글"
    return {
        {"flagged Korean", "data/\xED\x95\x9C\xEA\xB8\x80.dat", true, "data/" + hangulCp949 + ".dat", false, ""},
        {"unflagged CP949 Korean", "data/" + hangulCp949 + ".dat", false, "data/" + hangulCp949 + ".dat", false, ""},
        {"flagged ASCII with ./", "./a.dat", true, "a.dat", false, ""},
        {"flagged Korean directory", ".//\xEA\xB0\x80/", true, "\xB0\xA1/", true, ""},
        {"unflagged ./", "./", false, "", true, ""},
        // Full-width "．．／" have forms of their own in code page 949; they are no dots or slash.
        {"full-width dots and slash", "\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\x8F" "a", true,
         "\xA3\xAE\xA3\xAE\xA3\xAF" "a", false, ""},
        // Checked after conversion: a converted name gets every rule.
        {"flagged climb", "\xEA\xB0\x80/../../x", true, "", false, "\"..\""},
        {"flagged device", "./nul.\xEA\xB0\x80", true, "", false, "device"},
        {"flagged superscript device", "data/COM\xC2\xB9.dat", true, "", false, "device"},
        {"emoji", "\xF0\x9F\x98\x80.dat", true, "", false, "no code page 949 form"},
        // A best-fit conversion would make these "a/b" and "a.dat " (an alias of "a.dat").
        {"division slash", "a\xE2\x88\x95" "b", true, "", false, "no code page 949 form"},
        {"no-break space", "a.dat\xC2\xA0", true, "", false, "no code page 949 form"},
        {"CP949 bytes flagged as UTF-8", hangulCp949 + ".dat", true, "", false, "not valid UTF-8"},
        {"overlong slash", "a\xC0\xAF" "b", true, "", false, "not valid UTF-8"},
        {"encoded surrogate", "a\xED\xA0\x80", true, "", false, "not valid UTF-8"},
        {"cut sequence", "a\xEA\xB0", true, "", false, "not valid UTF-8"},
    };
}

TEST(ArchiveEntryName, FlaggedNamesAreConvertedStrictlyThenNormalisedAndChecked) {
    test::TempDir dir;
    ZipBuilder zip;
    const std::vector<NameCase> cases = NameCases();
    for (const NameCase& c : cases) zip.Add(c.stored, "x").flags = c.utf8Flag ? 0x0800 : 0;
    const std::string path = dir.Join("names.zip");
    test::WriteFileBytes(path, zip.Build());

    ZipReader reader;
    ASSERT_TRUE(reader.OpenArchive(path));
    for (size_t i = 0; i < cases.size(); ++i) {
        const NameCase& c = cases[i];
        if (i > 0) {
            ASSERT_TRUE(reader.GoToNextEntry()) << c.label;
        }
        ZipEntryName name;
        ASSERT_TRUE(reader.GetEntryName(name)) << c.label;
        if (c.refusalPart.empty()) {
            EXPECT_EQ(name.refusal, "") << c.label;
            EXPECT_EQ(name.path, c.path) << c.label;
            EXPECT_EQ(name.isDirectory, c.directory) << c.label;
        } else {
            EXPECT_NE(name.refusal.find(c.refusalPart), std::string::npos) << c.label << ": " << name.refusal;
            EXPECT_EQ(name.path, "") << c.label;
        }
        EXPECT_FALSE(name.shown.empty()) << c.label;
    }
    EXPECT_FALSE(reader.GoToNextEntry());
}

}  // namespace
}  // namespace qr
