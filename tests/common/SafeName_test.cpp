#include "common/SafeName.h"

#include <gtest/gtest.h>

namespace qr {
namespace {

TEST(SafeName, RelativeNamesInsideTheBaseAreAccepted) {
    for (const char* name : {"a.txt", "data/map01.map", "data\\maps\\a.map", "dir/", "a..b/c", "..x", "console.txt", "com10", "nulled/x",
                             "COM\xA9\xF9" /* COM⁴ */, "LPT\xA9\xF6x",
                             "\xB5\xA5\xC0\xCC\xC5\xCD/\xB8\xCA.map" /* CP949 Korean names */})
        EXPECT_TRUE(IsSafeRelativeName(name)) << name;
}

TEST(SafeName, NamesThatCouldLeaveTheBaseAreRefused) {
    for (const char* name : {"", "/etc/passwd", "\\Windows\\x.dll", "C:\\x", "c:x", "..", "../x", "..\\x",
                             "a/../../x", "a\\..\\..\\x", "a/..", "./x", "a/./b", "a//b", "file.txt:stream",
                             "\\\\server\\share\\x", "a\tb", "a\nb",
                             "CON", "nul.txt", "data/com1.dat", "Lpt9", "aux .x", "name.", "dir /x", "trail ",
                             /* COM¹, lpt³.txt, LPT² in code page 949: superscripts count as digits */
                             "COM\xA9\xF6", "data/lpt\xA9\xF8.txt", "LPT\xA9\xF7 .x"})
        EXPECT_FALSE(IsSafeRelativeName(name)) << name;
}

// Archivers run as "cd tree && tool -cf out.zip ." write "./" before every name; some tools and
// hand-written descriptions double a separator.
TEST(SafeName, DotAndEmptyComponentsAreDroppedAndWhatIsLeftDecidesFileOrDirectory) {
    struct Case {
        const char* raw;
        const char* path;
        bool directory;
    };
    for (const Case& c : std::initializer_list<Case>{{"./data/a.dat", "data/a.dat", false},
                                                      {"data//a.dat", "data/a.dat", false},
                                                      {"data/./a.dat", "data/a.dat", false},
                                                      {".\\win\\.\\a.dat", "win\\a.dat", false},
                                                      {"././a", "a", false},
                                                      {"a.dat", "a.dat", false},
                                                      {"./", "", true},
                                                      {".", "", true},
                                                      {".//./", "", true},
                                                      {"./data/", "data/", true},
                                                      {"data//", "data/", true},
                                                      {"data/.", "data/", true},
                                                      {"dir/", "dir/", true}}) {
        const NormalName n = NormaliseRelativeName(c.raw);
        EXPECT_EQ(n.refusal, "") << c.raw;
        EXPECT_EQ(n.path, c.path) << c.raw;
        EXPECT_EQ(n.isDirectory, c.directory) << c.raw;
        // What comes out is a name the strict check accepts as it stands.
        if (!n.path.empty()) {
            EXPECT_TRUE(IsSafeRelativeName(n.path)) << c.raw;
        }
    }
}

TEST(SafeName, NormalisingNeverOpensAWayOut) {
    struct Case {
        const char* raw;
        const char* reasonPart;
    };
    for (const Case& c : std::initializer_list<Case>{{"", "empty"},
                                                      {"./../x", "\"..\""},
                                                      {"a/./../../x", "\"..\""},
                                                      {"./a/..", "\"..\""},
                                                      {"/./x", "absolute"},
                                                      {"//x", "absolute"},
                                                      {"\\\\server\\share", "absolute"},
                                                      {"./C:/x", "drive"},
                                                      {"./data/a.txt:stream", "stream"},
                                                      {"./nul.txt", "device"},
                                                      {"./data/CON", "device"},
                                                      {"./name.", "trailing dot"},
                                                      {"./dir /x", "trailing dot or blank"},
                                                      {".//a\x01" "b", "control"}}) {
        const NormalName n = NormaliseRelativeName(c.raw);
        EXPECT_NE(n.refusal.find(c.reasonPart), std::string::npos) << c.raw << ": " << n.refusal;
        EXPECT_EQ(n.path, "") << c.raw;
        EXPECT_FALSE(n.isDirectory) << c.raw;
    }
}

}  // namespace
}  // namespace qr
