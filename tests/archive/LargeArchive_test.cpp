// Archives whose entries lie past the 2 GiB mark of their file, as a self-extractor's large stub
// puts them. The stub is a sparse file (a few bytes, then a hole), so the cases cost no disk; the
// real file system reads it, which on a 32-bit build needs 64-bit offsets all the way down.
#include "archive/ArchiveExtraction.h"
#include "archive/ZipReader.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "release/ReleaseNames.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"
#include "archive/ZipEntryRead.h"

namespace qr {
namespace {

using test::ZipBuilder;

constexpr uint64_t kStubSize = 2254857830ULL;  // 2.1 GiB

class ArchiveLargeOffsets : public ::testing::Test {
protected:
    ArchiveLargeOffsets() : install_(dir_.Join("install")) {
        std::filesystem::create_directory(install_);
        cwd_ = std::make_unique<test::CurrentDirGuard>(install_);
    }

    // A stub's first bytes, a hole up to `stubSize`, then the archive.
    std::string WriteBehindStub(const std::string& archive, uint64_t stubSize) {
        const std::string path = dir_.Join("setup.exe");
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << "MZ\x90 self-extractor stub";
        }
        std::filesystem::resize_file(path, stubSize);
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(archive.data(), static_cast<std::streamsize>(archive.size()));
        out.close();
        EXPECT_TRUE(out.good());
        EXPECT_EQ(std::filesystem::file_size(path), stubSize + archive.size());
        return path;
    }

    static ZipBuilder Entries() {
        ZipBuilder zip;
        zip.Add("data/maps/field.map", test::TextBytes(150000, 7), true);  // several input blocks
        zip.Add("data/", "");
        zip.Add("readme.txt", "beyond the 2 GiB mark");
        zip.Add("bin/stored.dat", test::RandomBytes(40000, 8));
        return zip;
    }

    void ExpectExtracted(const std::string& archivePath) {
        std::atomic<bool> run{true};
        std::atomic<int> done{0}, total{0};
        ExtractOutcome outcome = ExtractArchive(archivePath, LauncherExtractNaming(), &run, &done, &total);
        EXPECT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
        EXPECT_EQ(total, 4);
        EXPECT_EQ(test::ListFiles(install_),
                  (std::vector<std::string>{"bin/stored.dat", "data/maps/field.map", "readme.txt"}));
        EXPECT_EQ(test::ReadFileBytes(install_ + "/data/maps/field.map"), test::TextBytes(150000, 7));
        EXPECT_EQ(test::ReadFileBytes(install_ + "/readme.txt"), "beyond the 2 GiB mark");
        EXPECT_EQ(test::ReadFileBytes(install_ + "/bin/stored.dat"), test::RandomBytes(40000, 8));
    }

    test::TempDir dir_;
    std::string install_;
    std::unique_ptr<test::CurrentDirGuard> cwd_;
};

// An archive appended to its stub as it stands: recorded offsets count from the archive's start.
TEST_F(ArchiveLargeOffsets, ExtractsAnArchiveAppendedBehindA2GiBStub) {
    ExpectExtracted(WriteBehindStub(Entries().Build(), kStubSize));
}

// A self-extractor whose recorded offsets count from the start of the whole file (past 2 GiB).
TEST_F(ArchiveLargeOffsets, ExtractsAnArchiveWhoseOffsetsCountFromTheStubsStart) {
    ZipBuilder zip = Entries();
    zip.recordedBase = static_cast<uint32_t>(kStubSize);
    const std::string path = WriteBehindStub(zip.Build(), kStubSize);
    ZipReader reader;
    ZipEntryRead entry;
    ASSERT_TRUE(reader.OpenArchive(path)) << reader.Problem();
    EXPECT_EQ(reader.EntryCount(), 4u);
    ASSERT_TRUE(entry.Open(reader)) << entry.Problem();
    std::string data(200000, '\0');
    data.resize(entry.Read(&data[0], static_cast<uint32_t>(data.size())));
    EXPECT_EQ(data, test::TextBytes(150000, 7));
    EXPECT_TRUE(entry.Intact(nullptr));
    reader.CloseArchive();
    ExpectExtracted(path);
}

// Past 4 GiB no 32-bit offset reaches the archive: refused with its reason, nothing written.
TEST_F(ArchiveLargeOffsets, RefusesAFileOf4GiBOrMore) {
    const std::string path = WriteBehindStub(Entries().Build(), (4ULL << 30) + 100);
    ZipReader reader;
    EXPECT_FALSE(reader.OpenArchive(path));
    EXPECT_NE(reader.Problem().find("4 GiB"), std::string::npos) << reader.Problem();
    std::atomic<bool> run{true};
    std::atomic<int> done{0}, total{0};
    EXPECT_EQ(ExtractArchive(path, LauncherExtractNaming(), &run, &done, &total).status, ExtractStatus::Failed);
    EXPECT_TRUE(test::ListFiles(install_).empty());
}

}  // namespace
}  // namespace qr
