// The ZIP reader over archives written at test time: locating the end record, walking the
// directory, delivering stored and deflated data, and telling damaged entries from intact ones.
#include "archive/ZipReader.h"

#include <cstring>

#include <gtest/gtest.h>

#include "archive/ZipDirectoryEnd.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"
#include "archive/ZipEntryRead.h"

namespace qr {
namespace {

using test::ZipBuilder;

class MemoryFile : public ReadableFile {
public:
    explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
        if (offset >= bytes_.size()) return 0;
        const size_t n = std::min<uint64_t>(length, bytes_.size() - offset);
        std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }

private:
    std::string bytes_;
};

std::optional<uint32_t> FindIn(const std::string& bytes) {
    MemoryFile file(bytes);
    return FindDirectoryEnd(file);
}

std::string WithSignatureAt(size_t size, size_t pos) {
    std::string bytes(size, 'z');
    bytes.replace(pos, 4, "PK\x05\x06");
    return bytes;
}

TEST(ArchiveDirectoryEnd, FindsSignaturesAcrossEverySearchStep) {
    const size_t size = 70000;
    // Each step starts 1024 bytes further back; probe a few bytes either side of every boundary.
    for (size_t step = 1; step <= 64; ++step) {
        for (int delta = -6; delta <= 6; ++delta) {
            const long long back = 4 + 1024LL * static_cast<long long>(step) + delta;
            if (back < 4 || back > 65535) continue;
            const size_t pos = size - static_cast<size_t>(back);
            EXPECT_EQ(FindIn(WithSignatureAt(size, pos)), std::optional<uint32_t>(pos)) << "back " << back;
        }
    }
    EXPECT_EQ(FindIn(WithSignatureAt(size, size - 65535)), std::optional<uint32_t>(size - 65535));
    EXPECT_EQ(FindIn(WithSignatureAt(size, size - 65536)), std::nullopt);  // outside the window
    EXPECT_EQ(FindIn(WithSignatureAt(size, size - 4)), std::optional<uint32_t>(size - 4));
}

TEST(ArchiveDirectoryEnd, TheSignatureNearestTheEndWins) {
    std::string sameBlock = WithSignatureAt(3000, 2500);
    sameBlock.replace(2900, 4, "PK\x05\x06");
    EXPECT_EQ(FindIn(sameBlock), std::optional<uint32_t>(2900));
    std::string twoBlocks = WithSignatureAt(9000, 100);
    twoBlocks.replace(7000, 4, "PK\x05\x06");
    EXPECT_EQ(FindIn(twoBlocks), std::optional<uint32_t>(7000));
}

TEST(ArchiveDirectoryEnd, TinyFilesAndFilesWithoutSignatureHaveNone) {
    for (size_t n = 0; n <= 4; ++n) EXPECT_EQ(FindIn(std::string("PK\x05\x06", 4).substr(0, n)), std::nullopt);
    EXPECT_EQ(FindIn("xPK\x05\x06"), std::optional<uint32_t>(1));
    EXPECT_EQ(FindIn(std::string(5000, 'P')), std::nullopt);
}

class ArchiveZipReader : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string path = dir_.Join("a" + std::to_string(count_++) + ".zip");
        test::WriteFileBytes(path, bytes);
        return path;
    }
    bool Open(const ZipBuilder& builder) { return reader_.OpenArchive(Write(builder.Build())); }
    // Reads the open entry in `request`-sized pieces, recording each count.
    std::string ReadAll(uint32_t request, std::vector<uint32_t>* counts = nullptr) {
        std::string out;
        std::vector<char> buffer(request);
        for (;;) {
            const uint32_t n = entry_.Read(buffer.data(), request);
            if (counts) counts->push_back(n);
            out.append(buffer.data(), n);
            if (n < request) return out;
        }
    }
    std::string Name() {
        ZipEntryInfo info;
        reader_.GetEntryInfo(&info, nullptr, 0);
        std::string name(info.nameLength + 1, '\0');
        reader_.GetEntryInfo(nullptr, &name[0], info.nameLength + 1);
        name.pop_back();
        return name;
    }

    test::TempDir dir_;
    int count_ = 0;
    ZipReader reader_;
    ZipEntryRead entry_;
};

TEST_F(ArchiveZipReader, DeliversStoredAndDeflatedDataAroundBlockBoundaries) {
    const std::vector<size_t> sizes = {0, 1, 16383, 16384, 16385, 32768, 65535, 65536, 65537, 100000, 131072};
    ZipBuilder zip;
    std::vector<std::string> expected;
    for (size_t i = 0; i < sizes.size(); ++i) {
        // Random bytes keep deflated data as large as stored data, so both cross input blocks.
        std::string random = test::RandomBytes(sizes[i], static_cast<uint32_t>(i));
        std::string text = test::TextBytes(sizes[i], static_cast<uint32_t>(i));
        zip.Add("s" + std::to_string(i), random, false);
        zip.Add("d" + std::to_string(i), random, true);
        zip.Add("t" + std::to_string(i), text, true);
        expected.insert(expected.end(), {random, random, text});
    }
    ASSERT_TRUE(Open(zip));
    for (uint32_t request : {65536u, 1000u, 16384u}) {
        ASSERT_TRUE(reader_.GoToFirstEntry());
        for (size_t i = 0; i < expected.size(); ++i) {
            ASSERT_TRUE(entry_.Open(reader_)) << entry_.Problem();
            std::string problem;
            EXPECT_EQ(ReadAll(request), expected[i]) << Name() << " request " << request;
            EXPECT_TRUE(entry_.Intact(&problem)) << Name() << ": " << problem;
            entry_.Close();
            EXPECT_EQ(reader_.GoToNextEntry(), i + 1 < expected.size());
        }
    }
}

TEST_F(ArchiveZipReader, ReadCountsAreFullUntilTheEntryEnds) {
    ZipBuilder zip;
    zip.Add("stored", test::RandomBytes(100000, 1));
    zip.Add("deflated", test::TextBytes(131072, 2), true);
    zip.Add("dir/", "");
    ASSERT_TRUE(Open(zip));
    std::vector<uint32_t> counts;
    ASSERT_TRUE(entry_.Open(reader_));
    char dummy;
    EXPECT_EQ(entry_.Read(&dummy, 0), 0u);  // asks for nothing, changes nothing
    EXPECT_EQ(entry_.Read(nullptr, 100), 0u);
    ReadAll(65536, &counts);
    EXPECT_EQ(entry_.Read(&dummy, 1), 0u);
    EXPECT_EQ(counts, (std::vector<uint32_t>{65536, 34464}));
    ASSERT_TRUE(reader_.GoToNextEntry());
    ASSERT_TRUE(entry_.Open(reader_));
    counts.clear();
    ReadAll(65536, &counts);
    EXPECT_EQ(counts, (std::vector<uint32_t>{65536, 65536, 0}));
    ASSERT_TRUE(reader_.GoToNextEntry());
    ASSERT_TRUE(entry_.Open(reader_));
    EXPECT_EQ(entry_.Read(&dummy, 1), 0u);
    EXPECT_TRUE(entry_.Intact(nullptr));
}

TEST_F(ArchiveZipReader, WalksTheDirectoryAndCopiesNamesAsAsked) {
    ZipBuilder zip;
    zip.Add("data/maps/a.map", "aaa");
    zip.Add("\xb8\xca.txt", "korean name, CP949 bytes");
    ASSERT_TRUE(Open(zip));
    EXPECT_EQ(reader_.EntryCount(), 2u);
    EXPECT_EQ(Name(), "data/maps/a.map");

    char exact[16];
    std::memset(exact, 'X', sizeof exact);
    ASSERT_TRUE(reader_.GetEntryInfo(nullptr, exact, 16));  // 15 bytes + terminator
    EXPECT_STREQ(exact, "data/maps/a.map");
    char shorter[8];
    std::memset(shorter, 'X', sizeof shorter);
    ASSERT_TRUE(reader_.GetEntryInfo(nullptr, shorter, 5));
    EXPECT_EQ(std::string(shorter, 8), "data/XXX");

    ASSERT_TRUE(reader_.GoToNextEntry());
    EXPECT_EQ(Name(), "\xb8\xca.txt");
    EXPECT_FALSE(reader_.GoToNextEntry());  // the last entry stays current
    EXPECT_TRUE(reader_.Problem().empty());
    EXPECT_EQ(reader_.EntryIndex(), 1u);
    EXPECT_EQ(Name(), "\xb8\xca.txt");
    ASSERT_TRUE(reader_.GoToFirstEntry());
    EXPECT_EQ(Name(), "data/maps/a.map");

    ZipBuilder single;
    single.Add("only", "1");
    ASSERT_TRUE(Open(single));
    EXPECT_FALSE(reader_.GoToNextEntry());
    EXPECT_EQ(Name(), "only");
}

TEST_F(ArchiveZipReader, ShiftsEveryOffsetPastAStubBeforeTheArchive) {
    ZipBuilder zip;
    zip.stub = "MZ" + test::RandomBytes(70001, 9);  // a self-extractor stub; offsets do not count it
    zip.comment = "comment with a fake PK\x01\x02 header";
    zip.Add("one", test::TextBytes(5000, 3), true);
    zip.Add("two", test::RandomBytes(3000, 4));
    ASSERT_TRUE(Open(zip));
    ASSERT_TRUE(entry_.Open(reader_));
    EXPECT_EQ(ReadAll(65536), test::TextBytes(5000, 3));
    EXPECT_TRUE(entry_.Intact(nullptr));
    ASSERT_TRUE(reader_.GoToNextEntry());
    ASSERT_TRUE(entry_.Open(reader_));
    EXPECT_EQ(ReadAll(65536), test::RandomBytes(3000, 4));
    EXPECT_TRUE(entry_.Intact(nullptr));
}

TEST_F(ArchiveZipReader, ArchivesWithoutEntriesOrEndRecordDeliverNothing) {
    ZipBuilder empty;
    ASSERT_TRUE(Open(empty));
    EXPECT_FALSE(reader_.GoToFirstEntry());
    EXPECT_TRUE(reader_.Problem().empty());
    EXPECT_FALSE(entry_.Open(reader_));
    EXPECT_FALSE(reader_.GoToNextEntry());

    // An end record claiming 0 entries over a directory that has some still delivers none.
    ZipBuilder zeroCount;
    zeroCount.Add("hidden", "x");
    zeroCount.entryCountOverride = 0;
    ASSERT_TRUE(Open(zeroCount));
    EXPECT_FALSE(reader_.GoToFirstEntry());

    EXPECT_FALSE(reader_.OpenArchive(Write("PK\x05\x06")));
    EXPECT_FALSE(reader_.OpenArchive(Write(test::RandomBytes(10000, 5))));
    EXPECT_NE(reader_.Problem().find("no end of central directory"), std::string::npos);
    EXPECT_FALSE(reader_.OpenArchive(Write("data PK\x05\x06 cut")));  // end record cut off
    EXPECT_FALSE(reader_.OpenArchive(dir_.Join("missing.zip")));
    EXPECT_FALSE(entry_.Open(reader_));

    // A download cut short has lost its end record: nothing can be read from it.
    ZipBuilder whole;
    whole.Add("f", test::RandomBytes(50000, 6));
    EXPECT_FALSE(reader_.OpenArchive(Write(whole.Build().substr(0, 30000))));
}

struct Damage {
    const char* what;
    void (*apply)(test::ZipBuildEntry&);
    const char* expectedProblem;
};

TEST_F(ArchiveZipReader, DamagedEntriesEndTheirReadAndAreReported) {
    const std::vector<Damage> damages = {
        {"crc", [](test::ZipBuildEntry& e) { e.crc = test::Crc32(e.data) ^ 1; }, "CRC-32"},
        {"corrupt deflate", [](test::ZipBuildEntry& e) { e.payload = std::string(64, '\xff'); }, "corrupt"},
        {"deflate ends early", [](test::ZipBuildEntry& e) { e.uncompressedSize = 300000; }, "compressed data ends"},
        {"deflate input missing",
         [](test::ZipBuildEntry& e) {
             e.payload = "";
             e.compressedSize = 0;
         },
         "data ends"},
        {"deflate input cut",
         [](test::ZipBuildEntry& e) { e.payload = test::RawDeflate(e.data).substr(0, 1000); }, "data ends"},
        {"stored data short",
         [](test::ZipBuildEntry& e) {
             e.deflate = false;
             e.method = 0;
             e.uncompressedSize = static_cast<uint32_t>(e.data.size() + 10);
         },
         "data ends"},
        {"file ends inside data",
         [](test::ZipBuildEntry& e) {
             e.deflate = false;
             e.compressedSize = e.uncompressedSize = 50000000;
         },
         "archive file ends"},
        {"method 12", [](test::ZipBuildEntry& e) { e.method = 12; e.payload = "BZh91AY&SY"; }, "method 12"},
        {"size too small", [](test::ZipBuildEntry& e) { e.uncompressedSize = 1000; }, "CRC-32"},
    };
    for (const Damage& damage : damages) {
        ZipBuilder zip;
        auto& bad = zip.Add("bad", test::TextBytes(200000, 7), true);
        damage.apply(bad);
        zip.Add("good", "still readable");
        ASSERT_TRUE(Open(zip)) << damage.what;
        ASSERT_TRUE(entry_.Open(reader_)) << damage.what;
        ReadAll(65536);
        std::string problem;
        EXPECT_FALSE(entry_.Intact(&problem)) << damage.what;
        EXPECT_NE(problem.find(damage.expectedProblem), std::string::npos) << damage.what << ": " << problem;
        EXPECT_EQ(entry_.Read(&problem[0], 1), 0u) << damage.what;
        ASSERT_TRUE(reader_.GoToNextEntry()) << damage.what;
        ASSERT_TRUE(entry_.Open(reader_));
        EXPECT_EQ(ReadAll(100), "still readable");
        EXPECT_TRUE(entry_.Intact(nullptr));
    }
}

TEST_F(ArchiveZipReader, DamagedHeadersAreRefused) {
    ZipBuilder zip;
    zip.Add("first", "1");
    zip.Add("second", "2").breakCentralSignature = true;
    zip.Add("third", "3");
    ASSERT_TRUE(Open(zip));
    EXPECT_FALSE(reader_.GoToNextEntry());
    EXPECT_NE(reader_.Problem().find("entry 2 of 3"), std::string::npos) << reader_.Problem();
    EXPECT_EQ(Name(), "first");

    ZipBuilder local;
    local.Add("a", "1").breakLocalSignature = true;
    local.Add("b", "2").localHeaderOffset = 0x7fff0000;
    ASSERT_TRUE(Open(local));
    EXPECT_FALSE(entry_.Open(reader_));
    EXPECT_NE(entry_.Problem().find("local header"), std::string::npos);
    EXPECT_EQ(entry_.Read(&zip, 1), 0u);
    ASSERT_TRUE(reader_.GoToNextEntry());
    EXPECT_FALSE(entry_.Open(reader_));

    // More entries claimed than the directory holds: the walk stops at the first missing header.
    ZipBuilder overcounted;
    overcounted.Add("a", "1");
    overcounted.entryCountOverride = 3;
    ASSERT_TRUE(Open(overcounted));
    EXPECT_FALSE(reader_.GoToNextEntry());
    EXPECT_FALSE(reader_.Problem().empty());
}

}  // namespace
}  // namespace qr
