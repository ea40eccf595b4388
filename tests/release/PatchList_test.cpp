#include "patch/PatchList.h"

#include <gtest/gtest.h>

#include <map>

#include "release/PatchListFile.h"
#include "release/ReleaseDescription.h"
#include "release/ReleaseNames.h"
#include "tests/support/Env.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::TempDir;
using test::WriteFileBytes;

std::string ValueOf(const std::string& content, int line, std::string start = "unchanged") {
    TempDir dir;
    WriteFileBytes(dir.Join("patch.txt"), content);
    ReadPatchListValue(dir.Join("patch.txt"), line, start);
    return start;
}

TEST(PatchList, ValueIsTextAfterTheFirstEqualsOfTheLine) {
    const std::string list = "[PATCH]\r\ninfo=http://h/tzan/PatchInfo.ini\r\nnews=http://h/news.html\r\nbase=http://h/files\r\n";
    EXPECT_EQ(ValueOf(list, 1), "http://h/tzan/PatchInfo.ini");
    EXPECT_EQ(ValueOf(list, 2), "http://h/news.html");
    EXPECT_EQ(ValueOf(list, 3), "http://h/files");
    EXPECT_EQ(ValueOf(list, 0), "unchanged");  // no "=" on line 0
    EXPECT_EQ(ValueOf(list, 4), "unchanged");
    EXPECT_EQ(ValueOf("x\na=b=c\n", 1), "b=c");
    EXPECT_EQ(ValueOf("x\ninfo=last line without break", 1), "last line without break");
    EXPECT_EQ(ValueOf("x\n=\n", 1), "");
}

TEST(PatchList, OnlyTheFirst200BytesAreExamined) {
    const std::string filler = "0=" + std::string(190, 'f') + "\n";  // 193 bytes
    EXPECT_EQ(ValueOf(filler + "a=1234567\n", 1), "12345");  // byte 200 ends the data
    EXPECT_EQ(ValueOf(filler + "a=1234\n", 1), "1234");
    EXPECT_EQ(ValueOf(filler + "xx\nxx\nb=late\n", 3), "unchanged");  // its "=" is byte 201
    // Carriage returns are dropped before counting, like a text-mode read.
    std::string crlf;
    for (int i = 0; i < 60; ++i) crlf += "\r\n";
    EXPECT_EQ(ValueOf(crlf + "v=ok\n", 60), "ok");
}

TEST(PatchList, MissingFileLeavesTheBufferAlone) {
    std::string dest = "previous";
    ReadPatchListValue(TempDir().Join("missing/patch.txt"), 1, dest);
    EXPECT_EQ(dest, "previous");
}

TEST(PatchList, AddressComesFromTheEnvironmentWhenSet) {
    const std::string compiled = PatchListAddress();
    EXPECT_TRUE(compiled.rfind("http://", 0) == 0 || compiled.rfind("https://", 0) == 0) << compiled;
    EXPECT_NE(compiled.find("/tzan/patch.txt"), std::string::npos);
    test::SetEnv("QUORVEL_PATCH_LIST_URL", "http://127.0.0.1:1/tzan/patch.txt");
    EXPECT_EQ(PatchListAddress(), QR_PATCH_LIST_OVERRIDE ? "http://127.0.0.1:1/tzan/patch.txt" : compiled);
    test::UnsetEnv("QUORVEL_PATCH_LIST_URL");
    EXPECT_EQ(PatchListAddress(), compiled);
}

// A patch description as sections of numbered names, read like the INI store would.
struct FakeDescription {
    std::map<std::string, std::vector<std::string>> sections;
    std::vector<std::string> reads;
    PatchInfoLookup Lookup() {
        return [this](const std::string& section, const std::string& key) -> std::string {
            reads.push_back(section + "/" + key);
            auto it = sections.find(section);
            size_t k = std::stoul(key);
            if (it == sections.end() || k >= it->second.size()) return "NULL";
            return it->second[k];
        };
    }
    std::vector<std::string> SectionsRead() const {
        std::vector<std::string> out;
        for (const auto& r : reads) {
            std::string s = r.substr(0, r.find('/'));
            if (out.empty() || out.back() != s) out.push_back(s);
        }
        return out;
    }
};

TEST(PatchList, DownloadListKeepsFirstAppearanceOverAscendingVersions) {
    FakeDescription d;
    d.sections["101"] = {"data/map01.map", "patch101.zip"};
    d.sections["102"] = {"patch102.zip", "data/map01.map"};
    DownloadListResult r = BuildDownloadList("100", "102", d.Lookup());
    EXPECT_EQ(r.names, (std::vector<std::string>{"data/map01.map", "patch101.zip", "patch102.zip"}));
    EXPECT_FALSE(r.remoteVersionMissing);
    EXPECT_TRUE(r.refusedName.empty());
}

TEST(PatchList, VersionStepsAndSectionNames) {
    FakeDescription a;
    BuildDownloadList("101", "103", a.Lookup());
    EXPECT_EQ(a.SectionsRead(), (std::vector<std::string>{"102", "103"}));
    FakeDescription b;
    BuildDownloadList("99", "101", b.Lookup());
    EXPECT_EQ(b.SectionsRead(), (std::vector<std::string>{"100", "101"}));
    FakeDescription c;
    BuildDownloadList("5", "7", c.Lookup());
    EXPECT_EQ(c.SectionsRead(), (std::vector<std::string>{"006", "007"}));
    FakeDescription same;
    EXPECT_TRUE(BuildDownloadList("101", "101", same.Lookup()).names.empty());
    EXPECT_TRUE(same.reads.empty());
    FakeDescription differentText;
    EXPECT_TRUE(BuildDownloadList("101", "0101", differentText.Lookup()).names.empty());
    EXPECT_TRUE(differentText.reads.empty());  // 102..101 is empty
    EXPECT_EQ(VersionSectionName(1), "001");
    EXPECT_EQ(VersionSectionName(42), "042");
    EXPECT_EQ(VersionSectionName(1234), "1234");
}

TEST(PatchList, SectionEndsAtTheFirstNullAndNothingIsCutAtAThousand) {
    FakeDescription d;
    d.sections["101"] = {"a", "b", "NULL", "d"};
    EXPECT_EQ(BuildDownloadList("100", "101", d.Lookup()).names, (std::vector<std::string>{"a", "b"}));

    FakeDescription big;
    for (int v = 101; v <= 103; ++v)
        for (int k = 0; k < 1000; ++k) big.sections[std::to_string(v)].push_back(std::to_string(v) + "/f" + std::to_string(k));
    big.sections["101"].push_back("never read: key 1000");
    DownloadListResult r = BuildDownloadList("100", "103", big.Lookup());
    EXPECT_EQ(r.names.size(), 3000u);
    EXPECT_EQ(r.names.back(), "103/f999");
}

TEST(PatchList, MissingRemoteVersionAndHostileNamesAreReported) {
    FakeDescription d;
    EXPECT_TRUE(BuildDownloadList("100", "NULL", d.Lookup()).remoteVersionMissing);
    d.sections["101"] = {"ok.txt", "../../evil.dll", "C:\\evil.dll"};
    DownloadListResult r = BuildDownloadList("100", "101", d.Lookup());
    EXPECT_EQ(r.refusedName, "../../evil.dll");
}

// Descriptions generated from "find ." or typed by hand: each item is taken as the name it means,
// so it is fetched once, under the path a static server keeps it at.
TEST(PatchList, ItemsAreTakenWithoutDotAndEmptyComponents) {
    FakeDescription d;
    d.sections["101"] = {"./data/a.dat", "./", "data//b.map", "data/", ".", "./patch101.zip"};
    d.sections["102"] = {"data/a.dat", "data/./b.map", "./../evil.dll", "ok.txt"};
    DownloadListResult r = BuildDownloadList("100", "102", d.Lookup());
    EXPECT_EQ(r.names, (std::vector<std::string>{"data/a.dat", "data/b.map", "patch101.zip", "./../evil.dll", "ok.txt"}));
    EXPECT_EQ(r.refusedName, "./../evil.dll");  // as the operator wrote it
    // A directory brings no file: the run must not record the version as if it had.
    EXPECT_EQ(r.unwritable, (std::vector<std::string>{"./", "data/", "."}));
    EXPECT_EQ(ServerAddress("http://h/files", r.names[1]), "http://h/files/data/b.bap");
}

TEST(PatchList, NameRules) {
    EXPECT_EQ(ServerAddress("http://h/files", "data/x.map"), "http://h/files/data/x.bap");
    EXPECT_EQ(ServerAddress("http://h/files", "x.MAP"), "http://h/files/x.MAP");
    EXPECT_EQ(ServerAddress("http://h/files", "a b#.txt"), "http://h/files/a b#.txt");
    EXPECT_EQ(LocalTargetPath("D:\\Game\\", "data/x.map"), "D:\\Game\\data/x.map");
    EXPECT_EQ(DirectoriesToCreate("a/b/c.map"), (std::vector<std::string>{".\\a\\", ".\\a/b\\"}));
    EXPECT_TRUE(DirectoriesToCreate("top.txt").empty());
    EXPECT_TRUE(IsArchiveAddress("http://h/p/patch101.zip"));
    EXPECT_FALSE(IsArchiveAddress("http://h/p/patch.ZIP"));
    EXPECT_FALSE(IsArchiveAddress("http://h/p/zip"));
    EXPECT_EQ(ArchiveBaseName("sub/dir/p.zip"), "p.zip");
    EXPECT_EQ(ArchiveBaseName("p.zip"), "p.zip");
}

}  // namespace
}  // namespace qr
