// The run log the window and quorvel-patch keep in the install directory: what a support desk reads
// after a failed run, bounded however many runs have failed and whatever names the server sent.
#include <gtest/gtest.h>

#include <string>

#include "patch/RunLog.h"
#include "release/ReleaseNames.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

class NoEvents : public PatchEvents {
public:
    void BusyChanged(bool) override {}
    void StatusChanged(const std::string&) override {}
    void ServedVersionKnown(const std::string&) override {}
    void FilesPlanned(int) override {}
    void FileStarted(const FileStart&) override {}
    void BytesReceived(long long, long long) override {}
    void FileFinished(int) override {}
    void ExtractStarted(const std::string&) override {}
    void ExtractFinished() override {}
    void FileFailed(const std::string&, const std::string&) override {}
    void Finished(PatchOutcome, const std::string&) override {}
};

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

class RunLogTest : public ::testing::Test, protected test::WorkerRig {
protected:
    using WorkerRig::Run;
    std::string Log() { return ReadFileBytes(dir.Join(kRunLogFileName)); }
    std::string installDir = dir.Join("");
};

TEST_F(RunLogTest, WindowRunNamesTheFailingFileItsReasonAndBothVersions) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=game.dat\r\n1=good.txt\r\n"
                "[101.sha256]\r\n0=" + std::string(64, '0') + " 4\r\n");
    Serve("game.dat", "evil");
    Serve("good.txt", "fine");
    Run();
    const std::string log = Log();
    EXPECT_NE(log.find("=== run started "), std::string::npos) << log;
    EXPECT_NE(log.find("installed version: 100\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("served version: 101\r\n"), std::string::npos) << log;
    ASSERT_EQ(reasons->With("game.dat: ").size(), 1u);
    EXPECT_NE(log.find("failed: " + reasons->With("game.dat: ")[0] + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("result: failed\r\nreason: game.dat: "), std::string::npos) << log;
    EXPECT_EQ(Count(log, "failed: "), 1u) << log;

    // The next run is added after it; the description that never arrives leaves the served version open.
    Fresh();
    http.resources.clear();
    Run();
    const std::string two = Log();
    EXPECT_EQ(two.rfind(log, 0), 0u) << "the earlier run stays as it was";
    EXPECT_EQ(Count(two, "=== run started "), 2u);
    EXPECT_NE(two.find("served version: (unknown)\r\nresult: failed, no usable patch description\r\n"
                       "reason: the patch description could not be fetched"), std::string::npos) << two;
    EXPECT_TRUE(LeftoverTempFiles().empty());
}

TEST_F(RunLogTest, ManyFailedRunsKeepTheNewestRunsWithinTheByteLimit) {
    const std::string longName = "data/" + std::string(300, 'n') + ".dat";
    for (int run = 1; run <= 30; ++run) {
        RunLogEvents events(std::make_shared<NoEvents>(), SystemFileSystem(), installDir, std::to_string(run));
        events.ServedVersionKnown("999");
        for (int file = 0; file < kRunLogFailureLines + 40; ++file)
            events.FileFailed(longName + std::to_string(file), "the server answered 500");
        events.Finished(PatchOutcome::Failed, "run " + std::to_string(run) + " failed");
        const std::string log = Log();
        ASSERT_LE(log.size(), kRunLogByteLimit) << "after run " << run;
        EXPECT_NE(log.find("reason: run " + std::to_string(run) + " failed\r\n"), std::string::npos) << run;
        EXPECT_LE(Count(log, "=== run started "), static_cast<size_t>(kRunLogRuns));
    }
    const std::string log = Log();
    EXPECT_EQ(log.find("installed version: 1\r\n"), std::string::npos) << "the oldest runs are dropped";
    EXPECT_NE(log.find("failed: 40 more files\r\n"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.Join(std::string(kRunLogFileName) + kTempSuffix)));
}

TEST_F(RunLogTest, ServerTextCannotForgeARunAndForeignTextIsDropped) {
    WriteFileBytes(dir.Join(kRunLogFileName), "not a log\r\nat all\r\n");
    RunLogEvents events(std::make_shared<NoEvents>(), SystemFileSystem(), installDir, "100");
    events.FileFailed("a.dat\r\n=== run started 1999-01-01", "bad\ttext\x7f");
    events.Finished(PatchOutcome::Failed, "a.dat: bad");
    const std::string log = Log();
    EXPECT_EQ(log.rfind("=== run started ", 0), 0u) << log;
    EXPECT_EQ(Count(log, "\n=== run started "), 0u) << "one run, however its lines read: " << log;
    EXPECT_NE(log.find("failed: a.dat?" "?=== run started 1999-01-01: bad?text?\r\n"), std::string::npos) << log;
}

TEST(RunLogName, NoReleaseMayBringTheLog) {
    EXPECT_TRUE(IsLauncherFile("QuorvelLauncher.log"));
    EXPECT_TRUE(IsLauncherFile("quorvellauncher.LOG. "));
    EXPECT_FALSE(GameFileRefusal("QuorvelLauncher.log").empty());
    EXPECT_FALSE(GameFileRefusal("./QUORVELLAUNCHER.log").empty());
}

}  // namespace
}  // namespace qr
