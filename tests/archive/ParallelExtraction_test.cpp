// Extraction on several threads over real files: the promises of one-at-a-time extraction hold
// with entries side by side (later duplicates win, stops finish what is in flight, a damaged
// entry fails the outcome while the others land) and each directory is made once.
#include "archive/ArchiveExtraction.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "release/ReleaseNames.h"
#include "tests/archive/FaultyFileSystem.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::FaultyFileSystem;
using test::ZipBuilder;

class ArchiveParallelExtraction : public ::testing::Test {
protected:
    ArchiveParallelExtraction() : install_(dir_.Join("install")) {
        std::filesystem::create_directory(install_);
        cwd_ = std::make_unique<test::CurrentDirGuard>(install_);
    }
    ExtractOutcome Extract(const ZipBuilder& zip) {
        const std::string path = dir_.Join("patch.zip");
        test::WriteFileBytes(path, zip.Build());
        return ExtractArchive(path, LauncherExtractNaming(), &run_, &done_, &total_, fs_);
    }
    std::string At(const std::string& name) { return test::ReadFileBytes(install_ + "/" + name); }
    std::vector<std::string> Files() { return test::ListFiles(install_); }
    static std::string Content(int i) { return "file " + std::to_string(i) + " " + test::TextBytes(100 + i % 900, i); }
    static std::string SmallName(int i) { return "d" + std::to_string(i % 7) + "/s" + std::to_string(i % 3) + "/f" + std::to_string(i); }

    test::TempDir dir_;
    std::string install_;
    std::unique_ptr<test::CurrentDirGuard> cwd_;
    FaultyFileSystem fs_;
    std::atomic<bool> run_{true};
    std::atomic<int> done_{-1}, total_{-1};
};

TEST_F(ArchiveParallelExtraction, EntriesRunSideBySide) {
    ZipBuilder zip;
    zip.Add("slow.bin", test::RandomBytes(20 * 65536, 1));
    for (int i = 0; i < 20; ++i) zip.Add("quick" + std::to_string(i), Content(i));
    fs_.onWrite = [] { std::this_thread::sleep_for(std::chrono::milliseconds(3)); };
    ExtractOutcome outcome = Extract(zip);
    ASSERT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    // Another entry was created while the slow one was still being written.
    const auto& calls = fs_.calls;
    const auto slowCreated = std::find(calls.begin(), calls.end(), "create slow.bin.qrnew");
    const auto slowReplaced = std::find(calls.begin(), calls.end(), "replace slow.bin.qrnew > slow.bin");
    ASSERT_LT(slowCreated, slowReplaced);
    EXPECT_TRUE(std::any_of(slowCreated + 1, slowReplaced, [](const std::string& c) { return c.rfind("create quick", 0) == 0; }));
    EXPECT_EQ(At("slow.bin"), test::RandomBytes(20 * 65536, 1));
    EXPECT_EQ(Files().size(), 21u);
}

TEST_F(ArchiveParallelExtraction, ManySmallFilesLandWithEachDirectoryMadeOnce) {
    ZipBuilder zip;
    const int count = 1500;
    for (int i = 0; i < count; ++i) zip.Add(SmallName(i), Content(i), i % 2 == 0);
    std::vector<int> seen;
    fs_.onCreate = [&](const std::string&) { seen.push_back(done_.load()); };
    ExtractOutcome outcome = Extract(zip);
    ASSERT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    ASSERT_EQ(Files().size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) ASSERT_EQ(At(SmallName(i)), Content(i)) << i;
    EXPECT_EQ(done_, count);
    EXPECT_EQ(total_, count);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));  // the count only grows
    // 7 top directories and 21 below them: each asked for once (a race may ask twice, never more
    // often than there are threads).
    std::set<std::string> asked;
    for (const std::string& call : fs_.CallsMentioning("mkdir ")) asked.insert(call);
    EXPECT_EQ(asked.size(), 28u);
    EXPECT_LE(fs_.CallsMentioning("mkdir ").size(), 28u * std::max(2u, std::thread::hardware_concurrency()));
}

TEST_F(ArchiveParallelExtraction, TheLaterOfTwoEntriesForOneFileWins) {
    // The same file under both separators, several times, between other entries: always in
    // archive order, so the last intact one is what stays.
    ZipBuilder zip;
    for (int round = 0; round < 6; ++round) {
        zip.Add(round % 2 ? "data\\dup.bin" : "data/dup.bin", test::RandomBytes(300000, 100 + round), round % 3 == 0);
        for (int i = 0; i < 5; ++i) zip.Add("other" + std::to_string(round * 5 + i), Content(i));
    }
    ExtractOutcome outcome = Extract(zip);
    ASSERT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    EXPECT_EQ(At("data/dup.bin"), test::RandomBytes(300000, 105));

    // A damaged last copy fails the outcome and leaves the copy before it.
    ZipBuilder damaged;
    damaged.Add("dup.bin", "first");
    damaged.Add("between", "b");
    damaged.Add("dup.bin", "second");
    damaged.Add("dup.bin", "third").crc = 0x12345678u;
    outcome = Extract(damaged);
    EXPECT_EQ(outcome.status, ExtractStatus::Failed);
    EXPECT_NE(outcome.reason.find("entry 4 of 4 \"dup.bin\""), std::string::npos) << outcome.reason;
    EXPECT_EQ(At("dup.bin"), "second");
    EXPECT_EQ(At("between"), "b");
}

TEST_F(ArchiveParallelExtraction, AStopFinishesTheEntriesInFlightAndStartsNoOther) {
    ZipBuilder zip;
    const int count = 400;
    for (int i = 0; i < count; ++i) zip.Add("f" + std::to_string(i), Content(i) + test::RandomBytes(30000, i), i % 2 == 1);
    std::atomic<int> createdAfterStop{0};
    fs_.onCreate = [&](const std::string& path) {
        if (!run_) createdAfterStop += 1;
        if (path == "f10.qrnew") run_ = false;
    };
    ExtractOutcome outcome = Extract(zip);
    ASSERT_EQ(outcome.status, ExtractStatus::Stopped) << outcome.reason;
    const std::vector<std::string> files = Files();
    EXPECT_LT(files.size(), static_cast<size_t>(count) / 2);
    for (const std::string& file : files) {
        const int i = std::stoi(file.substr(1));
        EXPECT_EQ(At(file), Content(i) + test::RandomBytes(30000, i)) << file;  // whole, never a temporary
    }
    EXPECT_NE(std::find(files.begin(), files.end(), "f10"), files.end());
    EXPECT_EQ(static_cast<size_t>(done_.load()), files.size());
    // Only threads that had already taken their entry before the flag fell may create a file.
    EXPECT_LT(createdAfterStop.load(), static_cast<int>(std::max(2u, std::thread::hardware_concurrency())));
    EXPECT_NE(outcome.reason.find("stopped after entry " + std::to_string(files.size()) + " of 400"), std::string::npos)
        << outcome.reason;
}

TEST_F(ArchiveParallelExtraction, DamagedEntriesAmongGoodOnesFailTheOutcomeWhileTheOthersLand) {
    const int count = 200;
    ZipBuilder zip;
    for (int i = 0; i < count; ++i) {
        test::ZipBuildEntry& e = zip.Add("g" + std::to_string(i), Content(i) + test::TextBytes(40000, i), true);
        if (i == 50) e.crc = 0x12345678u;
        if (i == 150) e.payload = test::RawDeflate(e.data).substr(0, 300) + std::string(64, '\xee');
    }
    test::WriteFileBytes(install_ + "/g50", "old 50");
    test::WriteFileBytes(install_ + "/g150", "old 150");
    ExtractOutcome outcome = Extract(zip);
    EXPECT_EQ(outcome.status, ExtractStatus::Failed);
    EXPECT_EQ(outcome.reason.rfind("entry 51 of 200 \"g50\"", 0), 0u) << outcome.reason;  // the earliest, whatever finished first
    EXPECT_NE(outcome.reason.find("(and 1 more failed entry)"), std::string::npos) << outcome.reason;
    EXPECT_EQ(At("g50"), "old 50");
    EXPECT_EQ(At("g150"), "old 150");
    ASSERT_EQ(Files().size(), static_cast<size_t>(count));  // no temporary left
    for (int i = 0; i < count; ++i) {
        if (i == 50 || i == 150) continue;
        ASSERT_EQ(At("g" + std::to_string(i)), Content(i) + test::TextBytes(40000, i)) << i;
    }
    EXPECT_EQ(done_, count);
}

}  // namespace
}  // namespace qr
