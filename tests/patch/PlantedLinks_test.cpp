// A program without the launcher's rights plants links under the names of the launcher's temporaries
// in an install directory it can write: the elevated launcher removes each link and writes only a
// file of its own, never what the link points to. POSIX links; Windows refuses links to users.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <unistd.h>

#include "archive/ArchiveExtraction.h"
#include "patch/Fetch.h"
#include "patch/PartialDownload.h"
#include "patch/SettingsPlatform.h"
#include "patch/SettingsStore.h"
#include "platform/Sha256.h"
#include "release/ReleaseNames.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/PatchServer.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

bool IsLink(const std::string& path) {
    char target[8];
    return ::readlink(path.c_str(), target, sizeof target) >= 0;
}

class PlantedLinks : public ::testing::Test {
protected:
    // `name` becomes a link to a file outside the install directory that only its owner should change.
    void Plant(const std::string& name) {
        ASSERT_EQ(::symlink(outside.c_str(), install.Join(name).c_str()), 0) << name;
    }
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ReadFileBytes(outside), kOutsideBytes);
    }

    static constexpr const char* kOutsideBytes = "root:x:0:0:root:/root:/bin/sh\n";
    test::TempDir elsewhere;
    test::TempDir install;
    const std::string outside = elsewhere.Join("passwd");
    FileSystem& fs = SystemFileSystem();

    void SetUp() override { WriteFileBytes(outside, kOutsideBytes); }
};

TEST_F(PlantedLinks, DownloadAndItsResumeRecordNeverWriteThroughALink) {
    test::PatchServer server;
    const std::string game = std::string(70000, 'g');
    server.Put("/files/QuorvelRPG.bin", game);
    const std::string target = install.Join("QuorvelRPG.bin");
    Plant(std::string("QuorvelRPG.bin") + kTempSuffix);
    Plant(std::string("QuorvelRPG.bin") + kPartialRecordSuffix);

    // A broken transfer keeps its bytes and writes a record: both under the planted names.
    auto session = OpenHttpSession(kHttpAgent);
    server.SetFault("/files/QuorvelRPG.bin", R"({"mode": "drop", "after": 30000})");
    FetchItemRequest request;
    request.session = session.get();
    request.fs = &fs;
    request.name = "QuorvelRPG.bin";
    request.address = server.url("/files/QuorvelRPG.bin");
    request.target = target;
    EXPECT_EQ(FetchItem(request).status, DownloadStatus::Broken);
    ExpectOutsideUntouched();
    EXPECT_FALSE(IsLink(PartialFilePath(target)));
    EXPECT_FALSE(IsLink(PartialRecordPath(target)));

    // The kept bytes replaced by a link again before the resume: not appended to.
    ::unlink(PartialFilePath(target).c_str());
    Plant(std::string("QuorvelRPG.bin") + kTempSuffix);
    server.ClearFaults();
    const FileDigest digest{DigestHex(Sha256Of(game)), game.size()};
    request.expected = &digest;
    FetchItem(request);
    ExpectOutsideUntouched();
    // The run goes on: the next fetch lands the game file.
    EXPECT_EQ(FetchItem(request).status, DownloadStatus::Complete);
    EXPECT_TRUE(ReadFileBytes(target) == game);
    ExpectOutsideUntouched();
}

TEST_F(PlantedLinks, ExtractionAndSettingsTemporariesNeverWriteThroughALink) {
    test::ZipBuilder zip;
    zip.Add("data/a.dat", "entry bytes");
    zip.Add("b.dat", "more bytes");
    const std::string archive = elsewhere.Join("pack.zip");
    WriteFileBytes(archive, zip.Build());
    ASSERT_EQ(::mkdir(install.Join("data").c_str(), 0755), 0);
    Plant(std::string("data/a.dat") + kTempSuffix);
    Plant(std::string("b.dat") + kTempSuffix);
    test::CurrentDirGuard cwd{install.path()};
    std::atomic<bool> run{true};
    std::atomic<int> done{0}, total{0};
    const ExtractOutcome outcome = ExtractArchive(archive, LauncherExtractNaming(), &run, &done, &total, fs);
    EXPECT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    EXPECT_EQ(ReadFileBytes(install.Join("data/a.dat")), "entry bytes");
    EXPECT_EQ(ReadFileBytes(install.Join("b.dat")), "more bytes");
    ExpectOutsideUntouched();

    Plant(std::string(kVersionFileName) + kTempSuffix);
    auto settings = MakeFixedDirSettings(install.path());
    SettingsStore store(*settings);
    store.SetFile(kVersionFileName);
    EXPECT_TRUE(store.WriteString("VERSION", "version", "103"));
    EXPECT_EQ(store.ReadString("VERSION", "version"), "103");
    ExpectOutsideUntouched();
}

}  // namespace
}  // namespace qr
#endif
