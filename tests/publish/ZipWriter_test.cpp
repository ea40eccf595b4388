// The ZIP writer against our own reader and extraction, and against Info-ZIP's unzip.
#include "archive/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "archive/ArchiveExtraction.h"
#include "archive/ZipReader.h"
#include "release/ReleaseNames.h"
#include "tests/archive/FaultyFileSystem.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"
#include "archive/ZipEntryRead.h"

namespace qr {
namespace {

struct Entry {
    std::string name;
    std::string data;
};

std::vector<Entry> SampleEntries() {
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i) + " of a compressible text\r\n";
    return {
        {"empty.txt", ""},
        {"readme.txt", "hello"},
        {"data/maps/random.map", test::RandomBytes(300000, 7)},  // incompressible, many output blocks
        {"data/text/long.txt", text},                            // far more than one input piece
    };
}

bool WriteArchive(FileSystem& fs, const std::string& path, const std::vector<Entry>& entries, std::string& problem) {
    std::unique_ptr<WritableFile> out = fs.Create(path);
    if (!out) return false;
    ZipWriter zip(*out);
    bool ok = true;
    for (const Entry& e : entries) {
        // Fed in uneven pieces, as a file copy would.
        ok = ok && zip.BeginEntry(e.name);
        for (size_t at = 0; ok && at < e.data.size(); at += 70001)
            ok = zip.WriteEntryData(e.data.data() + at, std::min<size_t>(70001, e.data.size() - at));
        ok = ok && zip.EndEntry();
    }
    ok = ok && zip.Finish();
    problem = zip.Problem();
    return out->Close() && ok;
}

TEST(ZipWriterTest, EntriesReadBackWithOurReaderExtractionAndUnzip) {
    test::TempDir dir;
    const std::string archive = dir.Join("out.zip");
    const std::vector<Entry> entries = SampleEntries();
    std::string problem;
    ASSERT_TRUE(WriteArchive(SystemFileSystem(), archive, entries, problem)) << problem;

    ZipReader reader;
    ZipEntryRead entry;
    ASSERT_TRUE(reader.OpenArchive(archive));
    ASSERT_EQ(entries.size(), reader.EntryCount());
    ASSERT_TRUE(reader.GoToFirstEntry());
    for (size_t i = 0; i < entries.size(); ++i) {
        ZipEntryInfo info;
        char name[256] = {};
        ASSERT_TRUE(reader.GetEntryInfo(&info, name, sizeof name));
        EXPECT_EQ(entries[i].name, name);
        EXPECT_EQ(8u, info.method);
        EXPECT_EQ(test::Crc32(entries[i].data), info.crc);
        ASSERT_TRUE(entry.Open(reader));
        std::string data(entries[i].data.size() + 10, '\0');
        data.resize(entry.Read(&data[0], static_cast<uint32_t>(data.size())));
        EXPECT_EQ(entries[i].data, data) << entries[i].name;
        EXPECT_TRUE(entry.Intact(&problem)) << problem;
        entry.Close();
        if (i + 1 < entries.size()) {
            ASSERT_TRUE(reader.GoToNextEntry());
        }
    }
    reader.CloseArchive();

    const std::string into = dir.Join("unpacked");
    ASSERT_EQ(MakeDirResult::Created, SystemFileSystem().MakeDirectory(into));
    {
        test::CurrentDirGuard here(into);
        EXPECT_EQ(ExtractStatus::Complete, ExtractArchive(archive, LauncherExtractNaming(), nullptr, nullptr, nullptr).status);
    }
    for (const Entry& e : entries) EXPECT_EQ(e.data, test::ReadFileBytes(into + "/" + e.name)) << e.name;

    if (std::system("command -v unzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "Info-ZIP unzip is not installed";
    EXPECT_EQ(0, std::system(("unzip -tq '" + archive + "' >/dev/null").c_str()));
    const std::string byUnzip = dir.Join("by-unzip");
    ASSERT_EQ(0, std::system(("unzip -q '" + archive + "' -d '" + byUnzip + "'").c_str()));
    for (const Entry& e : entries) EXPECT_EQ(e.data, test::ReadFileBytes(byUnzip + "/" + e.name)) << e.name;
}

TEST(ZipWriterTest, SameInputGivesTheSameBytes) {
    test::TempDir dir;
    std::string problem;
    ASSERT_TRUE(WriteArchive(SystemFileSystem(), dir.Join("a.zip"), SampleEntries(), problem));
    ASSERT_TRUE(WriteArchive(SystemFileSystem(), dir.Join("b.zip"), SampleEntries(), problem));
    EXPECT_EQ(test::ReadFileBytes(dir.Join("a.zip")), test::ReadFileBytes(dir.Join("b.zip")));
}

TEST(ZipWriterTest, AFullDiskIsReportedAndNothingMoreIsWritten) {
    test::TempDir dir;
    test::CurrentDirGuard here(dir.path());
    test::FaultyFileSystem fs;
    fs.diskRoom["full.zip"] = 50000;
    std::string problem;
    EXPECT_FALSE(WriteArchive(fs, "full.zip", SampleEntries(), problem));
    EXPECT_NE(std::string::npos, problem.find("disk full")) << problem;
}

TEST(ZipWriterTest, CallsOutOfOrderFail) {
    test::TempDir dir;
    std::unique_ptr<WritableFile> out = SystemFileSystem().Create(dir.Join("x.zip"));
    ZipWriter zip(*out);
    EXPECT_FALSE(zip.WriteEntryData("x", 1));
    EXPECT_FALSE(zip.BeginEntry("later.txt"));  // the writer stays failed
    EXPECT_FALSE(zip.Problem().empty());
    out->Close();
}

}  // namespace
}  // namespace qr
