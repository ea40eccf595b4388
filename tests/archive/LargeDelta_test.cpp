// A delta applied to a file over 1 GB, in memory bounded by one segment rather than the file. It
// runs when QUORVEL_LARGE_DELTA=1: ctest's i386_large_delta_under_qemu sets it for the 32-bit
// build, where address space runs out first. It writes about 2.3 GB of scratch files and removes them.
#include "archive/DeltaDecoder.h"
#include "archive/DeltaEncoder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/PatternFile.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

#ifdef __linux__
// The process's peak resident memory since the last reset, in MiB (0 where it cannot be read).
uint64_t PeakMemoryMib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) >> 10;
    }
    return 0;
}

// Starts the peak over, so the encoder's memory before it does not count.
bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return clear.good();
}

TEST(ArchiveDeltaLarge, AppliesToAFileOverOneGigabyteInBoundedMemory) {
    if (!std::getenv("QUORVEL_LARGE_DELTA")) GTEST_SKIP() << "set QUORVEL_LARGE_DELTA=1 to run it";
    constexpr uint64_t kMib = 1 << 20;
    constexpr uint64_t kOldSize = 1100 * kMib;
    test::PatternFile oldPattern({{kOldSize, 1, 0}});
    // Kept, 4 KiB inserted, kept (shifted), 1 MiB cut out, kept, 5 MiB appended.
    test::PatternFile newPattern({{300 * kMib, 1, 0},
                                  {4096, 2, 0},
                                  {400 * kMib, 1, 300 * kMib},
                                  {kOldSize - 701 * kMib, 1, 701 * kMib},
                                  {5 * kMib, 3, 0}});
    test::TempDir dir;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(test::WritePatternFile(oldPattern, dir.Join("old")));
    FileSystem& fs = SystemFileSystem();
    auto oldFile = fs.OpenRead(dir.Join("old"));
    {
        auto deltaOut = fs.Create(dir.Join("delta"));
        DeltaMakeOptions fast;
        fast.level = 1;  // the decoder's work and memory do not depend on the level
        DeltaOutcome made = MakeDelta(*oldFile, newPattern, *deltaOut, fast);
        ASSERT_TRUE(made.ok) << made.reason;
        ASSERT_TRUE(deltaOut->Close());
        std::printf("delta of %llu bytes for %llu new bytes\n", static_cast<unsigned long long>(made.bytesWritten),
                    static_cast<unsigned long long>(newPattern.Size()));
    }
    const bool reset = ResetPeakMemory();
    auto delta = fs.OpenRead(dir.Join("delta"));
    auto out = fs.Create(dir.Join("new"));
    DeltaOutcome applied = ApplyDelta(*oldFile, *delta, *out);
    ASSERT_TRUE(applied.ok) << applied.reason;
    ASSERT_TRUE(out->Close());
    const uint64_t peak = PeakMemoryMib();
    std::printf("apply: peak resident memory %llu MiB%s; the case took %lld s\n",
                static_cast<unsigned long long>(peak), reset ? "" : " (whole run: the peak could not be reset)",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                           std::chrono::steady_clock::now() - started).count()));
    EXPECT_GT(peak, 0u);
    EXPECT_LT(peak, 600u);
    std::string where;
    EXPECT_TRUE(test::FileMatchesPattern(dir.Join("new"), newPattern, &where)) << where;
}
#endif

}  // namespace
}  // namespace qr
