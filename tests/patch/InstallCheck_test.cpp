// --verify and --repair with a release key: only a description that verifies is believed. Native
// only (signatures are made with libcrypto); the key check itself runs on both platforms.
#ifndef _WIN32
#include "patch/InstallCheck.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Sha256.h"
#include "release/ReleaseNames.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/DemoSigner.h"
#include "tests/support/PatchServer.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

std::string DigestLineOf(const std::string& bytes) { return FormatDigestLine({DigestHex(Sha256Of(bytes)), bytes.size()}); }

class SignedInstallCheck : public ::testing::Test {
protected:
    void SetUp() override {
        test::WriteFileBytes(dir.Join("patch.txt"), "[PATCH]\r\ninfo=" + server.url("/tzan/PatchInfo.ini") +
                                                        "\r\nnews=x\r\nbase=" + server.url("/files") + "\r\n");
        test::WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=101\r\n");
        server.Put("/files/game.bin", game);
        test::WriteFileBytes(dir.Join("game.bin"), "damaged");
    }
    std::string Description(const std::string& version = "102", const std::string& extra = "") {
        const std::string dated = extra.find("expires=") == std::string::npos ? "expires=2999-12-31\r\n" + extra : extra;
        return "[VERSION]\r\nversion=" + version + "\r\n" + dated + "[102]\r\n0=game.bin\r\n[102.sha256]\r\n0=" +
               DigestLineOf(game) + "\r\n";
    }
    void Publish(const std::string& text, const std::string& signedText) {
        server.Put("/tzan/PatchInfo.ini", text);
        server.Put("/tzan/PatchInfo.ini.sig", test::SignWithDemoKey(signedText));
    }
    int Repair() {
        InstallCheckOptions options;
        options.installDir = dir.path() + "/";
        options.patchListPath = dir.Join("patch.txt");
        options.repair = true;
        options.releaseKeyPem = test::DemoPublicKeyPem();
        lines.clear();
        return RunInstallCheck(*session, SystemFileSystem(), *settings, options,
                               [this](const std::string& line) { lines.push_back(line); });
    }
    int FileRequests() {
        int count = 0;
        for (const auto& r : server.Requests()) count += r.path == "/files/game.bin";
        return count;
    }

    test::PatchServer server;
    test::TempDir dir;
    test::CurrentDirGuard cwd{dir.path()};  // a repair works in the install directory, as a run does
    std::unique_ptr<HttpSession> session = OpenHttpSession(kHttpAgent);
    std::shared_ptr<SettingsPlatform> settings = MakeFixedDirSettings(dir.path());
    const std::string game = "the released game bytes";
    std::vector<std::string> lines;
};

TEST_F(SignedInstallCheck, OnlyAVerifiedDescriptionIsRepairedFrom) {
    const std::string good = Description();
    std::string flipped = good;
    flipped[flipped.size() - 3] ^= 1;
    Publish(flipped, good);  // one byte differs from what was signed
    EXPECT_EQ(Repair(), 1);
    EXPECT_EQ(lines.back(), "the patch description's signature does not verify");
    Publish(Description("100"), Description("100"));  // below the installed version
    EXPECT_EQ(Repair(), 1);
    Publish(Description("102", "expires=2001-01-01\r\n"), Description("102", "expires=2001-01-01\r\n"));
    EXPECT_EQ(Repair(), 1);
    EXPECT_EQ(FileRequests(), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.Join("game.bin")), "damaged");

    Publish(good, good);
    EXPECT_EQ(Repair(), 0) << lines.back();
    EXPECT_EQ(test::ReadFileBytes(dir.Join("game.bin")), game);
    EXPECT_EQ(FileRequests(), 1);
}

// A description is checked before anything of it is read: an unsigned one with hostile names shows
// only the signature's verdict, and names of a verified one reach the terminal with their control
// bytes escaped.
TEST_F(SignedInstallCheck, NamesAreShownOnlyFromAVerifiedDescriptionAndEscaped) {
    const std::string hostile = "[VERSION]\r\nversion=102\r\nexpires=2999-12-31\r\n[102]\r\n0=game.bin\r\n"
                                "1=../\x1b]2;owned\x07x.dat\r\n[102.sha256]\r\n0=" + DigestLineOf(game) + "\r\n";
    Publish(hostile, Description());
    EXPECT_EQ(Repair(), 1);
    EXPECT_EQ(lines, std::vector<std::string>{"the patch description's signature does not verify"});

    Publish(hostile, hostile);
    Repair();
    bool shown = false;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
        EXPECT_EQ(line.find('\x07'), std::string::npos) << line;
        shown |= line.find("../\\x1B]2;owned\\x07x.dat") != std::string::npos;
    }
    EXPECT_TRUE(shown);
}

// With a key, an archive the repair would fetch needs its own digest line: its entries are only as
// trustworthy as its bytes.
TEST_F(SignedInstallCheck, RepairRefusesAnArchiveWithoutADigestLine) {
    const std::string entry = "entry bytes";
    const std::string text = "[VERSION]\r\nversion=102\r\nexpires=2999-12-31\r\n[102]\r\n0=pack.zip\r\n"
                             "[102.contents]\r\ndata/a.dat=" + DigestLineOf(entry) + "\r\n";
    Publish(text, text);
    server.Put("/files/pack.zip", "not fetched");
    EXPECT_EQ(Repair(), 1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "refused  pack.zip (no digest line)"), lines.end());
    for (const auto& r : server.Requests()) EXPECT_NE(r.path, "/files/pack.zip");
    EXPECT_FALSE(test::FileExists(dir.Join("data/a.dat")));
}

// The archive's bytes match their signed line, but an entry is not what the signed contents say (a
// publishing fault, or a hash collision in the making): it never replaces the installed file.
TEST_F(SignedInstallCheck, RepairLandsOnlyEntriesThatMatchTheirContentsLines) {
    test::ZipBuilder zip;
    zip.Add("data/a.dat", "unexpected bytes");
    zip.Add("data/b.dat", "b bytes");
    const std::string archive = zip.Build();
    const std::string text = "[VERSION]\r\nversion=102\r\nexpires=2999-12-31\r\n[102]\r\n0=pack.zip\r\n[102.sha256]\r\n0=" +
                             DigestLineOf(archive) + "\r\n[102.contents]\r\ndata/a.dat=" + DigestLineOf("a bytes") +
                             "\r\ndata/b.dat=" + DigestLineOf("b bytes") + "\r\n";
    Publish(text, text);
    server.Put("/files/pack.zip", archive);
    SystemFileSystem().MakeDirectory(dir.Join("data"));
    test::WriteFileBytes(dir.Join("data/a.dat"), "damaged a");
    EXPECT_EQ(Repair(), 1);
    EXPECT_EQ(test::ReadFileBytes(dir.Join("data/a.dat")), "damaged a");
    EXPECT_EQ(test::ReadFileBytes(dir.Join("data/b.dat")), "b bytes");
    EXPECT_FALSE(test::FileExists(dir.Join("data/a.dat") + kTempSuffix));
}

}  // namespace
}  // namespace qr
#endif
