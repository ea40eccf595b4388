// A power cut at every step of a patch run: the file layer forgets whatever was not made durable,
// and after each step either the new version is not recorded or every file it promises is whole.
#include <gtest/gtest.h>

#include "tests/archive/ZipBuilder.h"
#include "tests/patch/PowerCutDisk.h"
#include "patch/PartialDownload.h"
#include "tests/support/PatchServer.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

class PatchPowerCut : public ::testing::Test, protected test::WorkerRig {
protected:
    using WorkerRig::Run;
    void SetUp() override {
        test::WriteFileBytes(dir.Join("data/maps/a.map"), "old map");
        test::WriteFileBytes(dir.Join("data/after.txt"), "old after");
        settings = std::make_shared<test::PowerCutSettings>(MakeFixedDirSettings(dir.path()), disk);
        fileSystem = &disk;
        Installed("100");

        http.resources[kInfoUrl] = {200, "[VERSION]\r\nversion=102\r\n[101]\r\n0=patch101.zip\r\n[102]\r\n"
                                         "0=patch102.zip\r\n1=data/after.txt\r\n"};
        test::ZipBuilder first;
        first.Add("data/maps/", "");
        Release(first, "data/maps/a.map", test::TextBytes(150000, 1), true);
        for (int i = 0; i < 40; ++i) Release(first, "data/small/s" + std::to_string(i), test::TextBytes(300 + i * 97, i), i % 2);
        first.Add("twice.dat", "the earlier copy");
        Release(first, "twice.dat", test::RandomBytes(70000, 7));
        Serve("patch101.zip", first.Build());
        test::ZipBuilder second;
        Release(second, "readme.txt", "hello");
        Release(second, "data/big.bin", test::RandomBytes(300000, 9), true);
        Serve("patch102.zip", second.Build());
        Serve("data/after.txt", "after");
        disk.Promise(dir.Join("data/after.txt"), "after");
        disk.ExpectVersion(dir.Join("VersionInfo.ini"), "version=102");
    }
    void Release(test::ZipBuilder& zip, const std::string& name, const std::string& data, bool deflate = false) {
        zip.Add(name, data, deflate);
        disk.Promise(dir.Join(name), data);
    }
    std::string Recorded() { return test::ReadFileBytes(dir.Join("VersionInfo.ini")); }

    test::PowerCutDisk disk;
};

TEST_F(PatchPowerCut, AtEveryStepTheVersionIsNotRecordedOrEveryFileItPromisesIsWhole) {
    Run();
    EXPECT_TRUE(log->Has("finished ok"));
    EXPECT_NE(Recorded().find("version=102"), std::string::npos);
    EXPECT_GT(disk.steps(), 100);
    EXPECT_GT(disk.stepsWithVersionRecorded(), 0);  // the cuts after the record were checked too
    const std::vector<std::string> violations = disk.Violations();
    EXPECT_TRUE(violations.empty()) << violations.size() << " violations, first: " << violations.front();
}

TEST_F(PatchPowerCut, WithoutTheBarrierACutAfterTheRecordWouldPromiseLostFiles) {
    // The model catches what the barrier prevents: the version on the disk, the files not.
    disk.forgetBarrier = true;
    Run();
    EXPECT_FALSE(disk.Violations().empty());
}

TEST_F(PatchPowerCut, ABarrierTheSystemCannotKeepLeavesTheOldVersion) {
    disk.failBarrier = true;
    Run();
    EXPECT_TRUE(log->Has("finished failed"));
    EXPECT_NE(Recorded().find("version=100"), std::string::npos);
    EXPECT_EQ(test::ReadFileBytes(dir.Join("readme.txt")), "hello");  // what landed stays for the next run
}

// A download that broke in an earlier run and is resumed: the kept bytes and the appended ones are
// both promised by the version, so both must be on the disk before it is recorded.
TEST(PatchPowerCutResumed, AResumedDownloadIsWholeOnTheDiskBeforeTheVersionIsRecorded) {
    const std::string data = test::RandomBytes(600 * 1024 + 17, 5);
    for (bool forgetBarrier : {false, true}) {
        SCOPED_TRACE(forgetBarrier ? "without the barrier" : "with the barrier");
        test::PatchServer server;
        test::TempDir dir;
        test::CurrentDirGuard cwd(dir.path());
        test::WriteFileBytes(dir.Join("patch.txt"), "[PATCH]\r\ninfo=" + server.url("/tzan/PatchInfo.ini") +
                                                        "\r\nnews=" + server.url("/news.html") +
                                                        "\r\nbase=" + server.url("/files") + "\r\n");
        test::WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=100\r\n");
        server.Put("/tzan/PatchInfo.ini", "[VERSION]\r\nversion=101\r\n[101]\r\n0=big.bin\r\n");
        server.Put("/files/big.bin", data);
        test::PowerCutDisk disk;
        disk.forgetBarrier = forgetBarrier;
        auto run = [&](FileSystem& fs, std::shared_ptr<SettingsPlatform> settings) {
            auto state = test::MakeLoggedState(std::make_shared<test::EventLog>());
            state->patchListPath = ReadInstallDir(*state, *settings) + state->patchListName;
            LoadInstalledVersion(*state, *settings);
            state->workerRunning = true;
            PatchWorkerContext context = WindowWorkerContext(
                state, std::make_shared<test::RecordingUi>(state, std::make_shared<test::EventLog>()), settings);
            context.fileSystem = &fs;
            PatchWorker(context);
            return state->readyToStart.load();
        };

        server.SetFault("/files/big.bin", R"({"mode": "drop", "after": 409600})");
        EXPECT_FALSE(run(SystemFileSystem(), MakeFixedDirSettings(dir.path())));
        ASSERT_TRUE(test::FileExists(PartialRecordPath(dir.Join("big.bin"))));

        server.ClearFaults();
        disk.Promise(dir.Join("big.bin"), data);
        disk.ExpectVersion(dir.Join("VersionInfo.ini"), "version=101");
        EXPECT_TRUE(run(disk, std::make_shared<test::PowerCutSettings>(MakeFixedDirSettings(dir.path()), disk)));
        EXPECT_TRUE(test::ReadFileBytes(dir.Join("big.bin")) == data);
        EXPECT_EQ(disk.appends(), 1);  // resumed, not fetched again
        EXPECT_GT(disk.stepsWithVersionRecorded(), 0);
        const std::vector<std::string> violations = disk.Violations();
        if (!forgetBarrier) {
            EXPECT_TRUE(violations.empty()) << violations.size() << " violations, first: " << violations.front();
        } else {
            // The kept bytes survive a cut, the appended ones would not.
            ASSERT_FALSE(violations.empty());
            EXPECT_NE(violations.front().find("holds other bytes (409600 of"), std::string::npos) << violations.front();
        }
    }
}

}  // namespace
}  // namespace qr
