// What a release description says an install holds, and the selective unpacking a repair uses.
#include "release/ReleaseDescription.h"

#include <gtest/gtest.h>

#include "archive/ArchiveExtraction.h"
#include "patch/InstallVerify.h"
#include "platform/Sha256.h"
#include "release/ReleaseNames.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/Digests.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

std::string Line(const std::string& bytes) { return test::DigestLineOf(bytes); }

const ManifestFile* Find(const ReleaseManifest& m, const std::string& name) {
    for (const auto& f : m.files)
        if (f.name == name) return &f;
    return nullptr;
}

TEST(ReleaseManifest, LaterVersionsWinAndArchiveEntriesNameTheirArchives) {
    const std::string text =
        "[VERSION]\r\nversion=103\r\n"
        "[101]\r\n0=a.txt\r\n1=p101.zip\r\n2=../evil.txt\r\n"
        "[101.SHA256]\r\n0=" + Line("a1") + "\r\n1=" + Line("zip1") + "\r\n"
        "[101.contents]\r\ndata/x.dat=" + Line("x1") + "\r\ndata/y.dat=" + Line("y1") + "\r\n"
        "[102]\r\n0=data/x.dat\r\n1=b.map\r\n"
        "[102.sha256]\r\n0=" + Line("x2") + "\r\n1=not a digest\r\n"
        "[103]\r\n0=p103.zip\r\n1=q103.zip\r\n"
        "[103.contents]\r\na.txt=" + Line("a3") + "\r\n/abs.txt=" + Line("z") + "\r\n"
        "[104]\r\n0=beyond.txt\r\n"  // past the described version
        "[0105x]\r\n0=odd.txt\r\n";
    const ReleaseManifest m = BuildReleaseManifest(text);
    EXPECT_EQ(m.version, "103");
    ASSERT_EQ(m.files.size(), 4u);  // a.txt, b.map, data/x.dat, data/y.dat
    const ManifestFile* a = Find(m, "a.txt");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->fromArchive);
    EXPECT_EQ(a->version, 103);
    EXPECT_EQ(a->digest.sha256Hex, DigestHex(Sha256Of("a3")));
    EXPECT_EQ(a->sources, (std::vector<std::string>{"p103.zip", "q103.zip"}));
    const ManifestFile* x = Find(m, "data/x.dat");
    ASSERT_TRUE(x);
    EXPECT_FALSE(x->fromArchive);
    EXPECT_EQ(x->digest.size, 2u);
    EXPECT_EQ(x->sources, std::vector<std::string>{"data/x.dat"});
    EXPECT_EQ(Find(m, "data/y.dat")->sources, std::vector<std::string>{"p101.zip"});
    EXPECT_FALSE(Find(m, "b.map")->hasDigest);
    EXPECT_EQ(m.served.at("p101.zip").sha256Hex, DigestHex(Sha256Of("zip1")));
    EXPECT_EQ(m.refused, (std::vector<std::string>{"../evil.txt", "/abs.txt"}));
    EXPECT_EQ(BuildReleaseManifest("[101]\r\n0=a\r\n").version, "NULL");

}

TEST(ReleaseManifest, VerifyTellsMissingDamagedAndIntactFiles) {
    test::TempDir dir;
    test::WriteFileBytes(dir.Join("good.bin"), std::string(5 << 20, 'g'));  // more than one block
    test::WriteFileBytes(dir.Join("changed.bin"), "abcd");
    test::WriteFileBytes(dir.Join("nodigest.bin"), "?");
    const std::string text = "[VERSION]\r\nversion=1\r\n[001]\r\n0=good.bin\r\n1=changed.bin\r\n2=gone.bin\r\n"
                             "3=nodigest.bin\r\n[001.sha256]\r\n0=" + Line(std::string(5 << 20, 'g')) +
                             "\r\n1=" + Line("abce") + "\r\n2=" + Line("x") + "\r\n";
    const ReleaseManifest m = BuildReleaseManifest(text);
    const VerifyReport report = VerifyInstall(SystemFileSystem(), dir.path() + "/", m);
    EXPECT_EQ(report.checked, 4);
    EXPECT_EQ(report.unchecked, 1);
    ASSERT_EQ(report.problems.size(), 2u);
    EXPECT_EQ(DescribeProblem(report.problems[0]), "damaged  changed.bin");
    EXPECT_EQ(DescribeProblem(report.problems[1]), "missing  gone.bin");
    EXPECT_EQ(report.bytesHashed, (5u << 20) + 4u);
}

TEST(ReleaseManifest, OnlyTheWantedEntriesAreUnpacked) {
    test::TempDir dir;
    test::CurrentDirGuard cwd(dir.path());
    test::ZipBuilder zip;
    zip.Add("data/", "");
    zip.Add("data/keep.txt", "from the archive");
    zip.Add("data/wanted.txt", std::string(9000, 'w'), true);
    zip.Add("other.txt", "other");
    test::WriteFileBytes(dir.Join("p.zip"), zip.Build());
    test::WriteFileBytes(dir.Join("data/keep.txt"), "installed and newer");
    ExtractOutcome outcome = ExtractArchiveEntries(
        "p.zip", LauncherExtractNaming(), [](const std::string& name) { return name == "data/wanted.txt"; }, nullptr);
    EXPECT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    EXPECT_EQ(test::ReadFileBytes(dir.Join("data/wanted.txt")), std::string(9000, 'w'));
    EXPECT_EQ(test::ReadFileBytes(dir.Join("data/keep.txt")), "installed and newer");
    EXPECT_FALSE(test::FileExists(dir.Join("other.txt")));
}

}  // namespace
}  // namespace qr
