#include "common/SafeName.h"

#include <gtest/gtest.h>

namespace qr {
namespace {

TEST(SafeName, RelativeNamesInsideTheBaseAreAccepted) {
    for (const char* name : {"a.txt", "data/map01.map", "data\\maps\\a.map", "dir/", "a..b/c", "..x", "console.txt", "com10", "nulled/x",
                             "\xB5\xA5\xC0\xCC\xC5\xCD/\xB8\xCA.map" /* CP949 Korean names */})
        EXPECT_TRUE(IsSafeRelativeName(name)) << name;
}

TEST(SafeName, NamesThatCouldLeaveTheBaseAreRefused) {
    for (const char* name : {"", "/etc/passwd", "\\Windows\\x.dll", "C:\\x", "c:x", "..", "../x", "..\\x",
                             "a/../../x", "a\\..\\..\\x", "a/..", "./x", "a/./b", "a//b", "file.txt:stream",
                             "\\\\server\\share\\x", "a\tb", "a\nb",
                             "CON", "nul.txt", "data/com1.dat", "Lpt9", "aux .x", "name.", "dir /x", "trail "})
        EXPECT_FALSE(IsSafeRelativeName(name)) << name;
}

}  // namespace
}  // namespace qr
