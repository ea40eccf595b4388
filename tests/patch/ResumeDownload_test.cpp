// Resuming broken downloads against the real patch server (libcurl natively, WinInet and the Win32
// file layer under Wine): what is kept, what is asked for, and what may replace a game file.
#include <gtest/gtest.h>

#include <random>

#include "patch/Fetch.h"
#include "patch/PartialDownload.h"
#include "platform/Sha256.h"
#include "tests/support/PatchServer.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

class ResumeTest : public ::testing::Test {
protected:
    // One fetch as a patch run makes it; the server's faults decide how it ends.
    DownloadResult Fetch(const FileDigest* expected = nullptr, long long* resumedFrom = nullptr) {
        FetchItemRequest request;
        request.session = session.get();
        request.fs = &fs;
        request.name = "big.bin";
        request.address = server.url(kPath);
        request.target = target;
        request.expected = expected;
        const FetchResult result = FetchItem(request);
        if (resumedFrom) *resumedFrom = result.resumedFrom;
        return {result.status, result.received, {}, result.validator};
    }
    std::vector<test::ServedRequest> FileRequests() {
        std::vector<test::ServedRequest> out;
        for (auto& r : server.Requests())
            if (r.path == kPath) out.push_back(r);
        return out;
    }

    static constexpr const char* kPath = "/files/big.bin";
    test::PatchServer server;
    std::unique_ptr<HttpSession> session = OpenHttpSession(kHttpAgent);
    FileSystem& fs = SystemFileSystem();
    test::TempDir dir;
    std::string target = dir.Join("big.bin");
    const std::string data = RandomBytes(600 * 1024 + 17, 3);
};

TEST_F(ResumeTest, DroppedDownloadIsCompletedFromWhereItBroke) {
    server.Put(kPath, data);
    WriteFileBytes(target, "old");
    server.SetFault(kPath, R"({"mode": "drop", "after": 368640})");
    EXPECT_EQ(Fetch().status, DownloadStatus::Broken);
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(ReadFileBytes(PartialFilePath(target)), data.substr(0, 368640));
    auto record = ReadPartialRecord(fs, PartialRecordPath(target));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->address, server.url(kPath));
    EXPECT_EQ(record->bytes, 368640u);
    EXPECT_FALSE(record->validator.empty());

    server.ClearFaults();
    const FileDigest digest{DigestHex(Sha256Of(data)), data.size()};
    long long resumedFrom = -1;
    DownloadResult second = Fetch(&digest, &resumedFrom);
    EXPECT_EQ(second.status, DownloadStatus::Complete);
    EXPECT_EQ(resumedFrom, 368640);
    EXPECT_EQ(second.received, static_cast<long long>(data.size()));
    EXPECT_TRUE(ReadFileBytes(target) == data);
    EXPECT_FALSE(FileExists(PartialFilePath(target)));
    EXPECT_FALSE(FileExists(PartialRecordPath(target)));
    auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "");
    EXPECT_EQ(requests[1].range, "bytes=368640-");
    EXPECT_EQ(requests[1].ifRange, record->validator);
}

TEST_F(ResumeTest, FileChangedOnTheServerIsFetchedWholeAndNew) {
    server.Put(kPath, data);
    server.SetFault(kPath, R"({"mode": "drop", "after": 200000})");
    EXPECT_EQ(Fetch().status, DownloadStatus::Broken);
    ASSERT_TRUE(FileExists(PartialRecordPath(target)));
    const std::string changed = RandomBytes(data.size() + 5000, 4);
    server.ClearFaults();
    server.Put(kPath, changed);
    long long resumedFrom = -1;
    EXPECT_EQ(Fetch(nullptr, &resumedFrom).status, DownloadStatus::Complete);
    EXPECT_EQ(resumedFrom, 0);
    EXPECT_TRUE(ReadFileBytes(target) == changed);
    EXPECT_EQ(FileRequests().back().range, "bytes=200000-");  // asked, and was given the whole new file
}

TEST_F(ResumeTest, ServerIgnoringRangesStillEndsRight) {
    server.Put(kPath, data);
    server.SetFault(kPath, R"({"mode": "drop", "after": 300000})");
    EXPECT_EQ(Fetch().status, DownloadStatus::Broken);
    server.SetFault(kPath, R"({"mode": "ignore-range"})");
    long long resumedFrom = -1;
    EXPECT_EQ(Fetch(nullptr, &resumedFrom).status, DownloadStatus::Complete);
    EXPECT_EQ(resumedFrom, 0);
    EXPECT_TRUE(ReadFileBytes(target) == data);
    EXPECT_FALSE(FileExists(PartialRecordPath(target)));
}

TEST_F(ResumeTest, ResumedFileThatFailsItsHashIsDiscardedAndTheGameFileStays) {
    server.Put(kPath, data);
    WriteFileBytes(target, "old game file");
    server.SetFault(kPath, R"({"mode": "drop", "after": 250000})");
    EXPECT_EQ(Fetch().status, DownloadStatus::Broken);
    // The kept bytes went bad on the disk meanwhile: only the whole-file hash can tell.
    std::string kept = ReadFileBytes(PartialFilePath(target));
    kept[1000] ^= 0x20;
    WriteFileBytes(PartialFilePath(target), kept);
    server.ClearFaults();
    const FileDigest digest{DigestHex(Sha256Of(data)), data.size()};
    long long resumedFrom = -1;
    EXPECT_EQ(Fetch(&digest, &resumedFrom).status, DownloadStatus::Mismatch);
    EXPECT_EQ(resumedFrom, 250000);
    EXPECT_EQ(ReadFileBytes(target), "old game file");
    EXPECT_FALSE(FileExists(PartialFilePath(target)));
    EXPECT_FALSE(FileExists(PartialRecordPath(target)));
    // Never a third try on those bytes: the next fetch asks for the whole file.
    EXPECT_EQ(Fetch(&digest, &resumedFrom).status, DownloadStatus::Complete);
    EXPECT_EQ(resumedFrom, 0);
    EXPECT_EQ(FileRequests().back().range, "");
}

// A server (or a mirror) that serves more than the release describes: the longer body is cut before
// or while it arrives, the game file stays and nothing of it is kept to resume.
TEST_F(ResumeTest, BodyLongerThanTheDescribedSizeIsCutAndNothingReplaced) {
    const std::string described = data.substr(0, 40000);
    const FileDigest digest{DigestHex(Sha256Of(described)), described.size()};
    server.Put(kPath, data);
    WriteFileBytes(target, "old game file");
    // Its announced length is already too long: refused before the body, even one that breaks early.
    server.SetFault(kPath, R"({"mode": "drop", "after": 30000})");
    DownloadResult result = Fetch(&digest);
    EXPECT_EQ(result.status, DownloadStatus::Mismatch);
    EXPECT_EQ(result.received, 0);
    EXPECT_EQ(ReadFileBytes(target), "old game file");
    EXPECT_FALSE(FileExists(PartialFilePath(target)));
    EXPECT_FALSE(FileExists(PartialRecordPath(target)));

    // No length at all and a body without end: cut at the described size while it arrives.
    server.SetFault(kPath, R"({"mode": "endless", "chunk": 65536})");
    result = Fetch(&digest);
    EXPECT_EQ(result.status, DownloadStatus::Mismatch);
    EXPECT_LE(result.received, static_cast<long long>(described.size()));
    EXPECT_EQ(ReadFileBytes(target), "old game file");
    EXPECT_FALSE(FileExists(PartialFilePath(target)));
    EXPECT_FALSE(FileExists(PartialRecordPath(target)));

    // A kept partial as long as the described file is of no use: the whole file is asked for again.
    server.SetFault(kPath, R"({"mode": "drop", "after": 40000})");
    EXPECT_EQ(Fetch().status, DownloadStatus::Broken);
    ASSERT_TRUE(FileExists(PartialRecordPath(target)));
    server.Put(kPath, described);
    server.ClearFaults();
    long long resumedFrom = -1;
    EXPECT_EQ(Fetch(&digest, &resumedFrom).status, DownloadStatus::Complete);
    EXPECT_EQ(resumedFrom, 0);
    EXPECT_EQ(FileRequests().back().range, "");
    EXPECT_TRUE(ReadFileBytes(target) == described);
}

TEST_F(ResumeTest, UnusablePartialsStartOver) {
    server.Put(kPath, data);
    const std::string address = server.url(kPath);
    // Every byte kept already: the server answers 416, the partial goes and the whole file comes.
    server.SetFault(kPath, R"({"mode": "drop", "after": 100000})");
    EXPECT_EQ(Fetch().status, DownloadStatus::Broken);
    auto record = ReadPartialRecord(fs, PartialRecordPath(target));
    ASSERT_TRUE(record);
    WriteFileBytes(PartialFilePath(target), data);
    record->bytes = data.size();
    ASSERT_TRUE(WritePartialRecord(fs, PartialRecordPath(target), *record));
    server.ClearFaults();
    long long resumedFrom = -1;
    EXPECT_EQ(Fetch(nullptr, &resumedFrom).status, DownloadStatus::Complete);
    EXPECT_EQ(resumedFrom, 0);
    EXPECT_TRUE(ReadFileBytes(target) == data);
    auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].range, "bytes=" + std::to_string(data.size()) + "-");
    EXPECT_EQ(requests[2].range, "");

    // A record whose size does not match the kept file, another address, or no validator: no Range.
    for (int variant = 0; variant < 3; ++variant) {
        WriteFileBytes(PartialFilePath(target), data.substr(0, 5000));
        PartialRecord bad{address, 5000, record->validator, CurrentUnixTime()};
        if (variant == 0) bad.bytes = 4999;
        if (variant == 1) bad.address = server.url("/files/other.bin");
        if (variant == 2) bad.validator.clear();
        ASSERT_TRUE(WritePartialRecord(fs, PartialRecordPath(target), bad));
        EXPECT_EQ(Fetch(nullptr, &resumedFrom).status, DownloadStatus::Complete) << variant;
        EXPECT_EQ(FileRequests().back().range, "") << variant;
        EXPECT_TRUE(ReadFileBytes(target) == data) << variant;
    }

    // Without a validator from the server a broken download keeps nothing.
    server.SetFault(kPath, R"({"mode": "drop", "after": 100000, "validators": false})");
    EXPECT_EQ(Fetch().status, DownloadStatus::Broken);
    EXPECT_FALSE(FileExists(PartialFilePath(target)));
    EXPECT_FALSE(FileExists(PartialRecordPath(target)));
}

TEST_F(ResumeTest, StalePartialsAreRemovedAtTheStartOfARun) {
    const std::string listed = server.url("/files/a.bin");
    const int64_t now = CurrentUnixTime();
    auto keep = [&](const std::string& name, const std::string& address, int64_t savedAt) {
        WriteFileBytes(PartialFilePath(dir.Join(name)), "partial");
        ASSERT_TRUE(WritePartialRecord(fs, PartialRecordPath(dir.Join(name)), {address, 7, "\"v\"", savedAt}));
    };
    fs.MakeDirectory(dir.Join("sub"));
    keep("a.bin", listed, now - 3600);
    keep("sub/gone.bin", server.url("/files/sub/gone.bin"), now - 60);
    keep("old.bin", server.url("/files/old.bin"), now - kPartialMaxAgeSeconds - 10);
    WriteFileBytes(dir.Join("notes.qrpart"), "a game file that happens to end so");
    std::set<std::string> addresses = {listed, server.url("/files/old.bin")};
    EXPECT_EQ(RemoveStalePartials(fs, dir.path(), addresses, now), 2);
    EXPECT_TRUE(FileExists(PartialFilePath(dir.Join("a.bin"))));
    EXPECT_TRUE(FileExists(PartialRecordPath(dir.Join("a.bin"))));
    EXPECT_FALSE(FileExists(PartialFilePath(dir.Join("sub/gone.bin"))));
    EXPECT_FALSE(FileExists(PartialRecordPath(dir.Join("sub/gone.bin"))));
    EXPECT_FALSE(FileExists(PartialFilePath(dir.Join("old.bin"))));
    EXPECT_EQ(ReadFileBytes(dir.Join("notes.qrpart")), "a game file that happens to end so");
}

// The whole worker: a run that broke and the next one, with the bars of the second starting at the
// kept bytes.
TEST_F(ResumeTest, WorkerResumesAndItsProgressStartsAtTheKeptBytes) {
    test::WorkerRig rig;
    rig.WritePatchList(server.url("/tzan/PatchInfo.ini"), server.url("/files"));
    rig.Installed("100");
    rig.openSession = OpenHttpSession;
    server.Put("/tzan/PatchInfo.ini", "[VERSION]\r\nversion=101\r\n[101]\r\n0=big.bin\r\n");
    server.Put(kPath, data);
    const std::string target = rig.dir.Join("big.bin");
    WriteFileBytes(target, "old");
    auto run = [&rig] {
        rig.Fresh();
        rig.Run();
        return rig.state;
    };
    server.SetFault(kPath, R"({"mode": "drop", "after": 409600})");
    auto first = run();
    EXPECT_FALSE(first->readyToStart);
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_TRUE(FileExists(PartialRecordPath(target)));

    server.ClearFaults();
    auto second = run();
    auto log = rig.log;
    EXPECT_TRUE(second->readyToStart);
    EXPECT_TRUE(ReadFileBytes(target) == data);
    EXPECT_FALSE(FileExists(PartialRecordPath(target)));
    auto file = log->With("file.");
    ASSERT_GE(file.size(), 3u);
    EXPECT_EQ(file[0], "file.range 0 " + std::to_string(data.size()));
    EXPECT_EQ(file[1], "file.pos 409600");
    EXPECT_GT(std::stoi(file[2].substr(9)), 409600);
    EXPECT_EQ(second->bytesReceived, static_cast<int>(data.size()));
    EXPECT_EQ(second->bytesTotal, static_cast<int>(data.size()));
}

}  // namespace
}  // namespace qr
