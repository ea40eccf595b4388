// The delta codec over real files and the real zstd: round trips across segment cuts, the zstd
// tool reading what we write (and the other way round), damaged and foreign input, the limits.
#include "archive/DeltaDecoder.h"
#include "archive/DeltaEncoder.h"

#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "tests/archive/FaultyFileSystem.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::RandomBytes;
using test::ReadFileBytes;
using test::TextBytes;
using test::WriteFileBytes;

// Segments of 64 KiB against 16 KiB either side, so a few hundred KiB cross several cuts.
DeltaMakeOptions SmallSegments() {
    DeltaMakeOptions options;
    options.segmentSize = 64 << 10;
    options.regionMargin = 16 << 10;
    return options;
}

// `old` with bytes inserted, changed and cut out, and a tail added: what a game update does.
std::string Edited(const std::string& old) {
    std::string edited = old;
    edited.insert(edited.size() / 4, RandomBytes(1000, 91));
    edited.replace(edited.size() / 2, 700, TextBytes(700, 92));
    edited.erase(edited.size() * 3 / 4, 3000);
    return edited + TextBytes(7000, 93);
}

class ArchiveDelta : public ::testing::Test {
protected:
    std::string Put(const std::string& name, const std::string& bytes) {
        WriteFileBytes(dir_.Join(name), bytes);
        return dir_.Join(name);
    }

    DeltaOutcome Make(const std::string& oldBytes, const std::string& newBytes,
                      const DeltaMakeOptions& options = {}) {
        auto oldFile = fs_.OpenRead(Put("old", oldBytes));
        auto newFile = fs_.OpenRead(Put("new", newBytes));
        auto out = fs_.Create(dir_.Join("delta"));
        DeltaOutcome outcome = MakeDelta(*oldFile, *newFile, *out, options);
        EXPECT_TRUE(out->Close());
        return outcome;
    }

    // Applies `deltaBytes` to the file "old"; the result is in out().
    DeltaOutcome Apply(const std::string& deltaBytes, const DeltaLimits& limits = {}) {
        auto oldFile = fs_.OpenRead(dir_.Join("old"));
        auto delta = fs_.OpenRead(Put("delta.in", deltaBytes));
        auto out = fs_.Create(dir_.Join("out"));
        DeltaOutcome outcome = ApplyDelta(*oldFile, *delta, *out, limits);
        out->Close();
        return outcome;
    }

    DeltaOutcome Decompress(const std::string& compressed, const DeltaLimits& limits = {}) {
        auto in = fs_.OpenRead(Put("in.zst", compressed));
        auto out = fs_.Create(dir_.Join("out"));
        DeltaOutcome outcome = DecompressFile(*in, *out, limits);
        out->Close();
        return outcome;
    }

    std::string Compress(const std::string& bytes) {
        auto in = fs_.OpenRead(Put("plain", bytes));
        auto out = fs_.Create(dir_.Join("plain.zst"));
        EXPECT_TRUE(CompressFile(*in, *out).ok);
        EXPECT_TRUE(out->Close());
        return ReadFileBytes(dir_.Join("plain.zst"));
    }

    std::string delta() const { return ReadFileBytes(dir_.Join("delta")); }
    std::string out() const { return ReadFileBytes(dir_.Join("out")); }

    test::TempDir dir_;
    FileSystem& fs_ = SystemFileSystem();
};

TEST_F(ArchiveDelta, RoundTripsEdgeSizesAndSegmentCuts) {
    const std::string base = RandomBytes(230000, 1);
    const std::string segment = Edited(base).substr(0, 64 << 10);
    struct Case {
        const char* what;
        std::string oldBytes, newBytes;
    } cases[] = {
        {"both empty", "", ""},
        {"from nothing", "", TextBytes(1000, 2)},
        {"to nothing", RandomBytes(1000, 3), ""},
        {"exactly one segment", base, segment},
        {"one segment and one byte", base, segment + "x"},
        {"several segments, edited", base, Edited(base)},
        {"content that moved past the margin", base, base.substr(150000, 70000)},
        {"old file shorter than a region", TextBytes(20000, 4), Edited(TextBytes(20000, 4))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const DeltaMakeOptions& options : {DeltaMakeOptions{}, SmallSegments()}) {
            DeltaOutcome made = Make(c.oldBytes, c.newBytes, options);
            ASSERT_TRUE(made.ok) << made.reason;
            EXPECT_EQ(made.bytesWritten, delta().size());
            DeltaOutcome applied = Apply(delta());
            ASSERT_TRUE(applied.ok) << applied.reason;
            EXPECT_EQ(applied.bytesWritten, c.newBytes.size());
            EXPECT_TRUE(out() == c.newBytes);
        }
    }
    // Every segment must find its old region: a misplaced one would send the edited file almost whole.
    ASSERT_TRUE(Make(base, Edited(base), SmallSegments()).ok);
    EXPECT_LT(delta().size(), 12000u) << "of " << Edited(base).size();
}

TEST_F(ArchiveDelta, WholeFilesRoundTripFrameByFrame) {
    const std::string text = TextBytes(300000, 5);
    for (const std::string& bytes : {std::string(), std::string("q"), text}) {
        DeltaOutcome outcome = Decompress(Compress(bytes));
        ASSERT_TRUE(outcome.ok) << outcome.reason;
        EXPECT_TRUE(out() == bytes);
    }
    EXPECT_LT(Compress(text).size(), text.size() / 4);
    // Concatenated frames are one file, as zstd itself reads them.
    ASSERT_TRUE(Decompress(Compress("first ") + Compress("second")).ok);
    EXPECT_EQ(out(), "first second");
    DeltaOutcome empty = Decompress("");
    EXPECT_FALSE(empty.ok);
    EXPECT_NE(empty.reason.find("empty"), std::string::npos) << empty.reason;
}

#ifndef _WIN32
// The zstd tool reads a one-segment delta (our records are skippable frames) and our whole files,
// and we read what it compresses.
TEST_F(ArchiveDelta, InteroperatesWithTheZstdTool) {
    if (std::system("zstd --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no zstd tool";
    const std::string oldBytes = TextBytes(150000, 6), newBytes = Edited(TextBytes(150000, 6));
    ASSERT_TRUE(Make(oldBytes, newBytes).ok);
    const std::string cd = "cd '" + dir_.path() + "' && ";
    ASSERT_EQ(std::system((cd + "zstd -q -d --patch-from=old delta -o tool-out").c_str()), 0);
    EXPECT_TRUE(ReadFileBytes(dir_.Join("tool-out")) == newBytes);

    Compress(newBytes);
    ASSERT_EQ(std::system((cd + "zstd -q -d plain.zst -o tool-plain").c_str()), 0);
    EXPECT_TRUE(ReadFileBytes(dir_.Join("tool-plain")) == newBytes);

    ASSERT_EQ(std::system((cd + "zstd -q -19 plain -o by-tool.zst").c_str()), 0);
    ASSERT_TRUE(Decompress(ReadFileBytes(dir_.Join("by-tool.zst"))).ok);
    EXPECT_TRUE(out() == newBytes);
}
#endif

// Damage anywhere fails the apply with a reason, never reports a wrong result as whole, never
// writes more than the new size, and never touches the old file.
TEST_F(ArchiveDelta, DamagedDeltasFailCleanly) {
    const std::string oldBytes = RandomBytes(200000, 7), newBytes = Edited(oldBytes);
    ASSERT_TRUE(Make(oldBytes, newBytes, SmallSegments()).ok);
    const std::string good = delta();
    for (size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 41) {
        DeltaOutcome outcome = Apply(good.substr(0, cut));
        EXPECT_FALSE(outcome.ok) << "cut at " << cut;
        EXPECT_FALSE(outcome.reason.empty());
        EXPECT_LE(outcome.bytesWritten, newBytes.size());
    }
    EXPECT_FALSE(Apply(good.substr(0, good.size() - 1)).ok);
    DeltaOutcome trailing = Apply(good + "junk");
    EXPECT_FALSE(trailing.ok);
    EXPECT_NE(trailing.reason.find("after the last segment"), std::string::npos) << trailing.reason;

    int refused = 0;
    for (size_t at = 40; at < good.size(); at += good.size() / 37) {
        std::string damaged = good;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
        DeltaOutcome outcome = Apply(damaged);
        if (outcome.ok) {
            EXPECT_TRUE(out() == newBytes) << "damage at " << at << " reported as success";
        }
        refused += outcome.ok ? 0 : 1;
    }
    EXPECT_GT(refused, 30);
    EXPECT_TRUE(ReadFileBytes(dir_.Join("old")) == oldBytes);
}

TEST_F(ArchiveDelta, ForeignOldFilesAndRecordsAreRefused) {
    const std::string oldBytes = RandomBytes(200000, 8), newBytes = Edited(oldBytes);
    ASSERT_TRUE(Make(oldBytes, newBytes, SmallSegments()).ok);
    const std::string good = delta();

    Put("old", RandomBytes(200000, 9));  // same size, other content: the frame checksums tell
    DeltaOutcome other = Apply(good);
    EXPECT_FALSE(other.ok);
    EXPECT_NE(other.reason.find("checksum"), std::string::npos) << other.reason;
    Put("old", oldBytes + "x");
    DeltaOutcome longer = Apply(good);
    EXPECT_FALSE(longer.ok);
    EXPECT_NE(longer.reason.find("200000 bytes; the local file has 200001"), std::string::npos) << longer.reason;
    EXPECT_EQ(longer.bytesWritten, 0u);

    Put("old", oldBytes);
    const size_t firstSegment = kDeltaRecordSize;  // the segment record follows the header
    std::string pastEnd = good;
    pastEnd[firstSegment + 8 + 2] = '\x7F';  // old offset far past the old file
    DeltaOutcome past = Apply(pastEnd);
    EXPECT_FALSE(past.ok);
    EXPECT_NE(past.reason.find("past the old file"), std::string::npos) << past.reason;
    EXPECT_FALSE(Apply(std::string(kDeltaRecordSize, 'Q') + good.substr(kDeltaRecordSize)).ok);
}

TEST_F(ArchiveDelta, LimitsAreHeldBeforeMemoryIsTaken) {
    const std::string oldBytes = TextBytes(300000, 10), newBytes = Edited(oldBytes);
    ASSERT_TRUE(Make(oldBytes, newBytes).ok);
    DeltaLimits smallWindow;
    smallWindow.windowLogMax = 16;
    DeltaOutcome window = Apply(delta(), smallWindow);
    EXPECT_FALSE(window.ok);
    EXPECT_NE(window.reason.find("window over the 64 KiB allowed"), std::string::npos) << window.reason;

    DeltaLimits smallRegion;
    smallRegion.maxOldRegion = 100000;
    DeltaOutcome region = Apply(delta(), smallRegion);
    EXPECT_FALSE(region.ok);
    EXPECT_NE(region.reason.find("of the old file, over the"), std::string::npos) << region.reason;

    DeltaLimits described;
    described.maxNewSize = newBytes.size() - 1;
    DeltaOutcome tooLong = Apply(delta(), described);
    EXPECT_FALSE(tooLong.ok);
    EXPECT_EQ(tooLong.bytesWritten, 0u);
    DeltaOutcome whole = Decompress(Compress(newBytes), described);
    EXPECT_FALSE(whole.ok);
    EXPECT_LE(whole.bytesWritten, described.maxNewSize);

    DeltaMakeOptions tooWide;
    tooWide.regionMargin = 32 << 20;
    DeltaOutcome refused = Make(oldBytes, newBytes, tooWide);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.reason.find("exceed what launchers decode"), std::string::npos) << refused.reason;
}

TEST_F(ArchiveDelta, FullDiskFailsTheApply) {
    const std::string oldBytes = TextBytes(200000, 11), newBytes = Edited(oldBytes);
    ASSERT_TRUE(Make(oldBytes, newBytes, SmallSegments()).ok);
    test::CurrentDirGuard cwd(dir_.path());  // the faulty file system writes only below it
    test::FaultyFileSystem full;
    full.diskRoom["out"] = 100000;
    auto oldFile = fs_.OpenRead("old");
    auto deltaFile = fs_.OpenRead("delta");
    auto out = full.Create("out");
    ASSERT_TRUE(out);
    DeltaOutcome outcome = ApplyDelta(*oldFile, *deltaFile, *out);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.reason.find("writing the new file failed"), std::string::npos) << outcome.reason;
}

// The publisher makes files on several threads; each call owns its contexts.
TEST_F(ArchiveDelta, RunsOnSeveralThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> matched(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            test::TempDir own;
            const std::string oldBytes = RandomBytes(150000, 20 + t), newBytes = Edited(oldBytes);
            WriteFileBytes(own.Join("old"), oldBytes);
            WriteFileBytes(own.Join("new"), newBytes);
            auto oldFile = fs_.OpenRead(own.Join("old"));
            auto newFile = fs_.OpenRead(own.Join("new"));
            auto deltaOut = fs_.Create(own.Join("delta"));
            const bool made = MakeDelta(*oldFile, *newFile, *deltaOut, SmallSegments()).ok && deltaOut->Close();
            auto delta = fs_.OpenRead(own.Join("delta"));
            auto out = fs_.Create(own.Join("out"));
            const bool applied = made && ApplyDelta(*oldFile, *delta, *out).ok && out->Close();
            matched[t] = applied && ReadFileBytes(own.Join("out")) == newBytes;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(matched, std::vector<int>(4, 1));
}

}  // namespace
}  // namespace qr
