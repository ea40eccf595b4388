// The portable INI code stands in for the Windows profile functions on other systems; here both
// answer the same cases and must agree.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/IniText.h"
#include "tests/patch/IniCases.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::string ProfileRead(const std::string& file, const std::string& section, const std::string& key) {
    char buffer[1000] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<default>", buffer, sizeof buffer, file.c_str());
    return buffer;
}

TEST(IniAgreement, LookupsMatchGetPrivateProfileString) {
    TempDir dir;
    const std::string file = dir.Join("case.ini");
    for (const IniLookupCase& c : IniLookupCases()) {
        WriteFileBytes(file, c.text);
        const std::string windows = ProfileRead(file, c.section, c.key);
        const std::string ours = IniLookup(c.text, c.section, c.key).value_or("<default>");
        EXPECT_EQ(ours, windows) << c.label;
    }
}

TEST(IniAgreement, WritesReadBackTheSameThroughBothImplementations) {
    TempDir dir;
    const std::string windowsFile = dir.Join("windows.ini");
    struct Write {
        const char* section;
        const char* key;
        const char* value;
    };
    const Write writes[] = {{"VERSION", "version", "103"}, {"version", "VERSION", "104"}, {"101", "0", "a.txt"},
                            {"101", "1", "b.txt"},       {"New", "k", "v"},           {"VERSION", "build", "7"}};
    for (const IniLookupCase& c : IniLookupCases()) {
        WriteFileBytes(windowsFile, c.text);
        std::string ours = c.text;
        for (const Write& w : writes) {
            WritePrivateProfileStringA(w.section, w.key, w.value, windowsFile.c_str());
            ours = IniAssign(ours, w.section, w.key, w.value);
        }
        const std::string windowsText = ReadFileBytes(windowsFile);
        for (const Write& w : writes) {
            EXPECT_EQ(IniLookup(ours, w.section, w.key).value_or("<default>"), ProfileRead(windowsFile, w.section, w.key))
                << c.label << " " << w.section << "/" << w.key;
            EXPECT_EQ(IniLookup(ours, w.section, w.key), IniLookup(windowsText, w.section, w.key)) << c.label;
        }
        EXPECT_EQ(IniLookup(ours, c.section, c.key).value_or("<default>"), ProfileRead(windowsFile, c.section, c.key))
            << c.label;
    }
}

}  // namespace
}  // namespace qr
