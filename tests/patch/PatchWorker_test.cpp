// The patch procedure over real files in a scratch install directory, with an in-memory server
// whose every response the test controls.
#include "patch/PatchWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/Sha256.h"
#include "release/ReleaseDescription.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

class PatchWorkerTest : public ::testing::Test, protected test::WorkerRig {
protected:
    using WorkerRig::Run;
};

TEST_F(PatchWorkerTest, SameVersionRewritesItAndFinishesWithoutDownloading) {
    Installed("101");
    Description("[VERSION]\r\nversion=101\r\n[102]\r\n0=never.txt\r\n");
    Run();
    EXPECT_EQ(http.requests, std::vector<std::string>{kInfoUrl});
    EXPECT_EQ(RecordedVersion(), "101");
    EXPECT_FALSE(FileExists(dir.Join("PatchInfo.ini")));
    EXPECT_EQ(log->Events(),
              (std::vector<std::string>{"cursor.begin", "invalidate all", "file.range 0 1", "total.range 0 1",
                                        "file.pos 1", "total.pos 1", "button.enable", "button.blink",
                                        "invalidate all erase", "invalidate all", "finished ok", "cursor.end"}));
    EXPECT_EQ(ui->statusSeen.front(), "패치정보를 받고 있습니다.");
    EXPECT_EQ(state->statusText.Get(), "패치가 완료되었습니다. GAME START 버튼을 눌러주세요.");
    EXPECT_TRUE(state->readyToStart);
}

TEST_F(PatchWorkerTest, SteppingThroughVersionsFetchesEachNameOnceWithProgress) {
    Installed("100");
    Description("[VERSION]\r\nversion=103\r\n[101]\r\n0=data/map01.map\r\n1=readme.txt\r\n"
                "[102]\r\n0=data/sub/deep.bin\r\n1=data/map01.map\r\n[103]\r\n0=readme.txt\r\n");
    WriteFileBytes(dir.Join("readme.txt"), "old readme");
    Serve("data/map01.bap", std::string(10000, 'm'));
    Serve("readme.txt", "new readme");
    Serve("data/sub/deep.bin", std::string(4096 * 3, 'd'));
    Run();

    EXPECT_EQ(http.requests, (std::vector<std::string>{kInfoUrl, "http://srv/files/data/map01.bap",
                                                       "http://srv/files/readme.txt", "http://srv/files/data/sub/deep.bin"}));
    EXPECT_EQ(ReadFileBytes(dir.Join("data/map01.map")), std::string(10000, 'm'));
    EXPECT_EQ(ReadFileBytes(dir.Join("readme.txt")), "new readme");
    EXPECT_EQ(ReadFileBytes(dir.Join("data/sub/deep.bin")).size(), 4096u * 3);
    EXPECT_EQ(RecordedVersion(), "103");
    EXPECT_TRUE(LeftoverTempFiles().empty());
    EXPECT_FALSE(FileExists(dir.Join("PatchInfo.ini")));

    EXPECT_EQ(log->With("total."), (std::vector<std::string>{"total.range 0 3", "total.pos 0", "total.pos 1",
                                                            "total.pos 2", "total.range 0 1", "total.pos 1"}));
    // The byte bar follows every 4096-byte chunk of the last file.
    auto file = log->With("file.");
    std::vector<std::string> lastFile(file.end() - 6, file.end());
    EXPECT_EQ(lastFile, (std::vector<std::string>{"file.range 0 12288", "file.pos 4096", "file.pos 8192",
                                                  "file.pos 12288", "file.range 0 1", "file.pos 1"}));
    EXPECT_EQ(state->archiveIndex, 3);
    EXPECT_EQ(state->archiveCount, 3);
    EXPECT_EQ(state->bytesReceived, 12288);
    EXPECT_EQ(state->bytesTotal, 12288);
    EXPECT_TRUE(log->Has("invalidate 473,63,623,75"));
    EXPECT_TRUE(log->Has("invalidate 401,88,816,100"));
    EXPECT_TRUE(log->Has("invalidate 629,63,819,75"));
    EXPECT_NE(std::find(ui->statusSeen.begin(), ui->statusSeen.end(), "data/sub/deep.bin 받는 중"), ui->statusSeen.end());
    EXPECT_TRUE(state->readyToStart);
}

TEST_F(PatchWorkerTest, NumericallyOlderServerVersionIsRecordedWithNothingFetched) {
    Installed("101");
    Description("[VERSION]\r\nversion=0101\r\n[102]\r\n0=x.txt\r\n");
    Run();
    EXPECT_EQ(http.requests.size(), 1u);
    EXPECT_EQ(log->With("total.").front(), "total.range 0 0");
    EXPECT_EQ(RecordedVersion(), "0101");
    EXPECT_TRUE(state->readyToStart);
}

TEST_F(PatchWorkerTest, FilesThatCannotBeFetchedFailTheRunAndKeepTheOldFiles) {
    // Each fault in its own run: the first failure ends the run, and nothing after it is committed.
    for (const char* name : {"missing.txt", "error.txt", "short.txt", "long.txt", "dropped.txt"}) {
        Fresh();
        http.resources.clear();
        http.requests.clear();
        Installed("100");
        Description(std::string("[VERSION]\r\nversion=101\r\n[101]\r\n0=first.txt\r\n1=") + name +
                    "\r\n2=good.txt\r\n");
        if (std::string(name) != "missing.txt") WriteFileBytes(dir.Join(name), std::string("old ") + name);
        Serve("first.txt", "first");
        Serve("error.txt", "<html>500 Internal Server Error</html>").status = 500;
        Serve("short.txt", "only part").contentLength = "1000";
        Serve("long.txt", std::string(5000, 'L')).contentLength = "100";
        Serve("dropped.txt", std::string(9000, 'D')).breakAfter = 4096;
        Serve("good.txt", "fine");
        Run();

        EXPECT_EQ(ReadFileBytes(dir.Join("first.txt")), "first") << name;
        EXPECT_EQ(http.requests.size(), 3u) << name;  // nothing after the failure is asked for
        EXPECT_FALSE(FileExists(dir.Join("good.txt"))) << name;
        if (std::string(name) == "missing.txt")
            EXPECT_FALSE(FileExists(dir.Join(name)));
        else
            EXPECT_EQ(ReadFileBytes(dir.Join(name)), std::string("old ") + name) << name;
        EXPECT_TRUE(LeftoverTempFiles().empty()) << name;
        EXPECT_EQ(RecordedVersion(), "100") << name;  // the next start fetches them again
        EXPECT_EQ(state->statusText.Get(), "패치가 실패하였습니다. 다시 실행하시기 바랍니다.") << name;
        EXPECT_FALSE(state->readyToStart) << name;
        EXPECT_TRUE(log->Has("finished failed")) << name;
        EXPECT_FALSE(log->Has("finished ok")) << name;
    }
}

TEST_F(PatchWorkerTest, UnreachableDescriptionTakesTheRunAgainPath) {
    Installed("100");
    for (int variant = 0; variant < 4; ++variant) {
        Fresh();
        http.resources.clear();
        if (variant == 1) http.resources[kInfoUrl] = {404, "<html>not found</html>"};
        if (variant == 2) http.resources[kInfoUrl] = {200, "[VERSION]\r\nversion=101\r\n", std::string("500")};
        if (variant == 3) http.resources[kInfoUrl] = {200, "[OTHER]\r\nx=1\r\n[101]\r\n0=x.txt\r\n"};  // no version
        Run();
        EXPECT_EQ(state->statusText.Get(), "다시 실행 하시기 바랍니다.") << variant;
        EXPECT_TRUE(log->Has("message 패치 정보를 받는데 실패했습니다. 다시 실행 하시기 바랍니다.")) << variant;
        EXPECT_EQ(log->With("file.range"), std::vector<std::string>{"file.range 0 1"}) << variant;
        EXPECT_FALSE(log->Has("finished ok")) << variant;
        EXPECT_FALSE(FileExists(dir.Join("PatchInfo.ini"))) << variant;
        EXPECT_EQ(RecordedVersion(), "100") << variant;
        EXPECT_EQ(http.requests.size(), static_cast<size_t>(variant + 1)) << "nothing but the description";
    }
}

TEST_F(PatchWorkerTest, NoInternetShowsTheServerMessageAndChangesNothing) {
    Installed("100");
    http.sessionFails = true;
    Run();
    EXPECT_EQ(log->Events(),
              (std::vector<std::string>{"cursor.begin",
                                        "message 패치 서버에 접속할 수 없습니다. 내부 패치 중입니다. 홈페이지를 이용하세요",
                                        "cursor.end"}));
    EXPECT_EQ(state->statusText.Get(), "서버에 접속 중입니다..");
}

TEST_F(PatchWorkerTest, HostileNamesNeverBecomePaths) {
    test::TempDir outside;
    Installed("100");
    const std::string escape = "../" + outside.path().substr(outside.path().rfind('/') + 1) + "/evil.txt";
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=" + escape + "\r\n1=/tmp/evil.txt\r\n2=C:\\evil.txt\r\n3=ok.txt\r\n");
    Serve(escape, "evil");
    Serve("ok.txt", "ok");
    Run();
    EXPECT_TRUE(test::ListFiles(outside.path()).empty());
    EXPECT_EQ(http.requests, (std::vector<std::string>{kInfoUrl, "http://srv/files/ok.txt"}));
    EXPECT_EQ(ReadFileBytes(dir.Join("ok.txt")), "ok");
    EXPECT_EQ(RecordedVersion(), "100");
    EXPECT_TRUE(log->Has("finished failed"));
}

// Items and archive entries written as "./x" or "a//b", as common tools write them, reach the
// version: each file is asked for and stored under the name it means.
TEST_F(PatchWorkerTest, DotAndDoubledSeparatorNamesAreFetchedAndUnpackedUnderTheNameTheyMean) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=./data/a.dat\r\n1=data//b.map\r\n"
                "2=./patch101.zip\r\n3=data/a.dat\r\n");
    Serve("data/a.dat", "a");
    Serve("data/b.bap", "b");
    test::ZipBuilder archive;
    archive.Add("./", "");
    archive.Add("./data/", "");
    archive.Add("./data/c.dat", "c", true);
    Serve("patch101.zip", archive.Build());
    Run();
    EXPECT_EQ(http.requests, (std::vector<std::string>{kInfoUrl, std::string(kBase) + "/data/a.dat",
                                                        std::string(kBase) + "/data/b.bap",
                                                        std::string(kBase) + "/patch101.zip"}));
    EXPECT_EQ(ReadFileBytes(dir.Join("data/a.dat")), "a");
    EXPECT_EQ(ReadFileBytes(dir.Join("data/b.map")), "b");
    EXPECT_EQ(ReadFileBytes(dir.Join("data/c.dat")), "c");
    EXPECT_FALSE(FileExists(dir.Join("patch101.zip")));
    EXPECT_EQ(RecordedVersion(), "101");
    EXPECT_TRUE(log->Has("finished ok"));
}

// An archive is never taken as in place by a copy of itself lying in the install directory: only
// what it lands counts, so a leftover with the described bytes is still unpacked.
TEST_F(PatchWorkerTest, ALeftoverCopyOfAnArchiveIsStillUnpacked) {
    Installed("100");
    test::ZipBuilder archive;
    archive.Add("inside.txt", "inside");
    const std::string bytes = archive.Build();
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=patch101.zip\r\n[101.sha256]\r\n0=" +
                FormatDigestLine({DigestHex(Sha256Of(bytes)), bytes.size()}) + "\r\n");
    Serve("patch101.zip", bytes);
    WriteFileBytes(dir.Join("patch101.zip"), bytes);
    Run();
    EXPECT_EQ(ReadFileBytes(dir.Join("inside.txt")), "inside");
    EXPECT_EQ(RecordedVersion(), "101");
}

// An item naming a directory brings no file the version promises: the other items are still
// fetched, but the run fails and the version stays.
TEST_F(PatchWorkerTest, ItemNamingADirectoryFailsTheRun) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=a.txt\r\n1=data/\r\n2=b.txt\r\n");
    Serve("a.txt", "a");
    Serve("b.txt", "b");
    Run();
    EXPECT_EQ(ReadFileBytes(dir.Join("a.txt")), "a");
    EXPECT_EQ(ReadFileBytes(dir.Join("b.txt")), "b");
    EXPECT_EQ(RecordedVersion(), "100");
    EXPECT_TRUE(log->Has("finished failed"));
    EXPECT_FALSE(log->Has("finished ok"));
}

TEST_F(PatchWorkerTest, TargetThatCannotBeWrittenEndsTheRunAtOnce) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=blocked\r\n1=after.txt\r\n");
    // A directory where the file should go: neither the temporary file nor the move can succeed.
    test::WriteFileBytes(dir.Join("blocked/keep.txt"), "keep");
    test::WriteFileBytes(dir.Join("blocked.qrtmp/keep.txt"), "keep");
    Serve("blocked", "data");
    Serve("after.txt", "after");
    Run();
    EXPECT_EQ(http.requests.size(), 2u);  // nothing after the failure
    EXPECT_FALSE(FileExists(dir.Join("after.txt")));
    EXPECT_EQ(ReadFileBytes(dir.Join("blocked/keep.txt")), "keep");
    EXPECT_EQ(RecordedVersion(), "100");
    EXPECT_EQ(state->statusText.Get(), "패치가 실패하였습니다. 다시 실행하시기 바랍니다.");
    auto events = log->Events();
    auto finish = std::find(events.begin(), events.end(), "finished failed");
    ASSERT_NE(finish, events.end());
    EXPECT_TRUE(log->Has("file.range 0 1"));
    EXPECT_TRUE(log->Has("total.range 0 1"));
    EXPECT_FALSE(state->workerRunning);
}

TEST_F(PatchWorkerTest, StopDuringADownloadKeepsTheOldFileAndRecordsNothing) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=big.bin\r\n1=next.txt\r\n");
    WriteFileBytes(dir.Join("big.bin"), "old big");
    auto& big = Serve("big.bin", std::string(100000, 'b'));
    big.onRead = [this](long long delivered) {
        if (delivered >= 8192) state->workerRunning = false;  // the window closes
    };
    Serve("next.txt", "next");
    Run();
    EXPECT_EQ(ReadFileBytes(dir.Join("big.bin")), "old big");
    EXPECT_FALSE(FileExists(dir.Join("next.txt")));
    EXPECT_TRUE(LeftoverTempFiles().empty());
    EXPECT_EQ(RecordedVersion(), "100");
    EXPECT_FALSE(log->Has("finished ok"));
    EXPECT_FALSE(log->Has("finished failed"));
    EXPECT_FALSE(log->Has("total.range 0 1"));
}

TEST_F(PatchWorkerTest, ArchivesAreUnpackedVerifiedAndDeleted) {
    Installed("100");
    Description("[VERSION]\r\nversion=102\r\n[101]\r\n0=patch101.zip\r\n[102]\r\n0=patch102.zip\r\n1=data/after.txt\r\n");
    WriteFileBytes(dir.Join("data/maps/a.map"), "old map");
    WriteFileBytes(dir.Join("data/maps/b.map"), "old b");
    test::ZipBuilder first;
    first.Add("data/maps/", "");
    first.Add("data/maps/a.map", std::string(70000, 'a'), true);
    first.Add("readme.txt", "hello");
    Serve("patch101.zip", first.Build());
    test::ZipBuilder second;
    second.Add("data/maps/b.map", "corrupted b").crc = 0x12345678u;
    second.Add("data/new.txt", "new");
    Serve("patch102.zip", second.Build());
    Serve("data/after.txt", "after");
    Run();
    EXPECT_EQ(ReadFileBytes(dir.Join("data/maps/a.map")), std::string(70000, 'a'));
    EXPECT_EQ(ReadFileBytes(dir.Join("readme.txt")), "hello");
    EXPECT_EQ(ReadFileBytes(dir.Join("data/maps/b.map")), "old b");  // damaged entry replaced nothing
    EXPECT_EQ(ReadFileBytes(dir.Join("data/new.txt")), "new");
    EXPECT_FALSE(FileExists(dir.Join("data/after.txt")));  // nothing after the damaged archive
    EXPECT_FALSE(FileExists(dir.Join("patch101.zip")));
    EXPECT_FALSE(FileExists(dir.Join("patch102.zip")));
    EXPECT_TRUE(LeftoverTempFiles().empty());
    EXPECT_EQ(log->With("timer."), (std::vector<std::string>{"timer.start", "timer.stop", "timer.start", "timer.stop"}));
    EXPECT_EQ(state->extractTotal, 0);
    EXPECT_EQ(state->extractName.Get(), "patch102.zip");
    EXPECT_EQ(RecordedVersion(), "100");
    EXPECT_TRUE(log->Has("finished failed"));
}

TEST_F(PatchWorkerTest, WorkerOutlivesTheWindowSafely) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=slow.bin\r\n");
    auto& slow = Serve("slow.bin", std::string(50000, 's'));
    slow.onRead = [](long long) { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
    state->workerRunning = true;
    PatchWorkerContext context = Context();
    std::weak_ptr<LauncherState> watch = state;
    std::thread worker(PatchWorker, std::move(context));
    // The window goes away: it clears the flag and drops its references without waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    state->workerRunning = false;
    state.reset();
    ui.reset();
    worker.join();
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(LeftoverTempFiles().empty());
    EXPECT_FALSE(FileExists(dir.Join("slow.bin")));
}

// Every failure reaches the front-end with the file, the step and the server's or system's answer;
// the finish carries the first of them.
TEST_F(PatchWorkerTest, FailuresReachTheFrontEndWithTheirReasons) {
    const std::string refused = "../out.txt: refused: it climbs out of the install directory through \"..\"";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"error.txt", "error.txt: the server answered 500"},
        {"dropped.txt", "dropped.txt: the transfer broke after 4096 bytes of 9000"},
        {"changed.txt", "changed.txt: the bytes served are not the described ones"},
        {"broken.zip", "broken.zip: "},
    };
    for (const auto& [item, reason] : cases) {
        Fresh();
        reasons = std::make_shared<test::EventLog>();
        http.resources.clear();
        Installed("100");
        // A refused name is decided before anything is fetched; the fetch failure ends the run.
        const std::string digests = item == "changed.txt" ? "[101.sha256]\r\n1=" + std::string(64, '0') + " 4\r\n" : "";
        Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=../out.txt\r\n1=" + item + "\r\n2=good.txt\r\n" + digests);
        Serve("error.txt", "<html>500</html>").status = 500;
        Serve("dropped.txt", std::string(9000, 'D')).breakAfter = 4096;
        Serve("changed.txt", "evil");
        Serve("broken.zip", "this is no archive");
        Serve("good.txt", "fine");
        Run();
        const std::vector<std::string> said = reasons->Events();
        ASSERT_EQ(said.size(), 3u) << item;
        EXPECT_EQ(said[0], refused);
        EXPECT_EQ(said[1].rfind(reason, 0), 0u) << said[1];
        EXPECT_GT(said[1].size(), std::string(item + ": ").size());
        EXPECT_EQ(said[2], "finish: " + refused + " (and 1 more)");
        EXPECT_FALSE(FileExists(dir.Join("good.txt"))) << item;
        EXPECT_TRUE(log->Has("finished failed"));
    }

    // The description itself, and a file that cannot be written.
    Fresh();
    reasons = std::make_shared<test::EventLog>();
    http.resources.clear();
    http.resources[kInfoUrl] = {404, "<html>not found</html>"};
    Run();
    EXPECT_EQ(reasons->Events(),
              std::vector<std::string>{"finish: the patch description could not be fetched: the server answered 404"});
    Fresh();
    reasons = std::make_shared<test::EventLog>();
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=blocked\r\n");
    WriteFileBytes(dir.Join("blocked/keep.txt"), "keep");
    WriteFileBytes(dir.Join("blocked.qrtmp/keep.txt"), "keep");
    Serve("blocked", "data");
    Run();
    // The system's own cause follows in brackets.
    ASSERT_EQ(reasons->Events().size(), 1u);
    EXPECT_EQ(reasons->Events()[0].rfind("finish: blocked: the file could not be written (", 0), 0u)
        << reasons->Events()[0];
}

// The busy cursor covers the whole run: it ends after the version is recorded and the window told.
TEST_F(PatchWorkerTest, BusyCursorEndsAfterTheVersionRecord) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=a.txt\r\n");
    Serve("a.txt", "a");
    std::string versionAtCursorEnd;
    ui->onCursorEnd = [this, &versionAtCursorEnd] { versionAtCursorEnd = RecordedVersion(); };
    Run();
    const auto events = log->Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "cursor.begin");
    EXPECT_EQ(events.back(), "cursor.end");
    EXPECT_EQ(log->With("cursor.").size(), 2u);
    EXPECT_EQ(versionAtCursorEnd, "101");
    EXPECT_TRUE(log->Has("finished ok"));
}

// A version record that cannot be written is a failed run, never a success over the old record.
TEST_F(PatchWorkerTest, VersionThatCannotBeRecordedFailsTheRun) {
    Installed("100");
    Description("[VERSION]\r\nversion=101\r\n[101]\r\n0=a.txt\r\n");
    Serve("a.txt", "a");
    // A directory where the record goes: neither its temporary nor the move can replace it.
    ASSERT_EQ(std::remove(dir.Join("VersionInfo.ini").c_str()), 0);
    WriteFileBytes(dir.Join("VersionInfo.ini/keep.txt"), "keep");
    Run();
    EXPECT_EQ(ReadFileBytes(dir.Join("a.txt")), "a");
    EXPECT_TRUE(log->Has("finished failed"));
    EXPECT_FALSE(log->Has("finished ok"));
    EXPECT_EQ(state->statusText.Get(), "패치가 실패하였습니다. 다시 실행하시기 바랍니다.");
    EXPECT_FALSE(state->readyToStart);
    EXPECT_EQ(reasons->Events(), (std::vector<std::string>{"VersionInfo.ini: the new version could not be recorded",
                                                           "finish: VersionInfo.ini: the new version could not be recorded"}));
}

}  // namespace
}  // namespace qr
