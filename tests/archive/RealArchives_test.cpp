// Archives as operators make them, with Info-ZIP zip and bsdtar, extracted into real directories:
// "./" names, doubled separators, data descriptors, and Korean names with and without the UTF-8 flag.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "archive/ArchiveExtraction.h"
#include "release/ReleaseNames.h"
#include "tests/archive/RealArchives.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

class ArchiveRealTools : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new test::TempDir;
        archives_ = new std::string(test::MakeRealArchives(*scratch_));
    }
    static void TearDownTestSuite() {
        delete archives_;
        delete scratch_;
        archives_ = nullptr;
        scratch_ = nullptr;
    }
    void SetUp() override {
#ifdef _WIN32
        if (archives_->empty()) GTEST_SKIP() << "QR_TEST_REAL_ARCHIVES names no folder (tests/http/run_win_tests.sh makes them)";
#endif
        ASSERT_FALSE(archives_->empty()) << "tests/archive/make_real_archives.sh failed";
    }

    // Extracts one of the made archives into a fresh install directory named `install`.
    ExtractOutcome ExtractInto(const std::string& archive, const std::string& install) {
        const std::string dir = dir_.Join(install);
        std::filesystem::create_directory(dir);
        test::CurrentDirGuard cwd(dir);
        return ExtractArchive((std::filesystem::path(*archives_) / archive).string(), LauncherExtractNaming(), &run_, &done_, &total_);
    }
    std::vector<std::string> Files(const std::string& install) { return test::ListFiles(dir_.Join(install)); }
    std::string At(const std::string& install, const std::string& name) {
        return test::ReadFileBytes(dir_.Join(install) + "/" + name);
    }

    static test::TempDir* scratch_;
    static std::string* archives_;
    test::TempDir dir_;
    std::atomic<bool> run_{true};
    std::atomic<int> done_{-1}, total_{-1};
};

test::TempDir* ArchiveRealTools::scratch_ = nullptr;
std::string* ArchiveRealTools::archives_ = nullptr;

std::string Numbers() {
    std::string out;
    for (int i = 1; i <= 40000; ++i) out += std::to_string(i) + "\n";
    return out;
}

// bsdtar run as "cd tree && bsdtar --format zip -cf out.zip ." writes "./" before every name and a
// "./" entry for the tree itself; Info-ZIP writes the same tree without them.
TEST_F(ArchiveRealTools, TreesFromInfoZipAndBsdtarLandAlike) {
    for (const char* archive : {"info-zip.zip", "bsdtar.zip"}) {
        ExtractOutcome outcome = ExtractInto(archive, archive + std::string(".d"));
        const std::string install = archive + std::string(".d");
        ASSERT_EQ(outcome.status, ExtractStatus::Complete) << archive << ": " << outcome.reason;
        EXPECT_EQ(Files(install), (std::vector<std::string>{"data/a.dat", "data/sub/numbers.txt", "top.bin"})) << archive;
        EXPECT_EQ(At(install, "data/a.dat"), "first file\n") << archive;
        EXPECT_EQ(At(install, "data/sub/numbers.txt"), Numbers()) << archive;
        EXPECT_EQ(At(install, "top.bin"), std::string(70000, 'z')) << archive;
        EXPECT_TRUE(std::filesystem::is_directory(dir_.Join(install) + "/empty")) << archive;
        EXPECT_EQ(done_, total_) << archive;
    }
    EXPECT_EQ(total_, 7);  // bsdtar's "./" is an entry of its own
}

// Info-ZIP stores a name as it was typed: "zip out.zip data//a.dat" keeps the doubled "/".
TEST_F(ArchiveRealTools, DoubledSeparatorFromInfoZipLandsAtTheNameItMeans) {
    ExtractOutcome outcome = ExtractInto("info-zip-doubled.zip", "doubled");
    ASSERT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    EXPECT_EQ(Files("doubled"), std::vector<std::string>{"data/a.dat"});
    EXPECT_EQ(At("doubled", "data/a.dat"), "first file\n");
}

#ifndef _WIN32
// bsdtar flags a UTF-8 Korean name (bit 11); Info-ZIP writes code page 949 bytes unflagged. Both are
// the same name, so both must land as the same file. (tests/win checks the wide name under Wine.)
TEST_F(ArchiveRealTools, KoreanNamesWithAndWithoutTheUtf8FlagLandAsOneName) {
    for (const char* archive : {"korean-utf8.zip", "korean-cp949.zip"}) {
        ExtractOutcome outcome = ExtractInto(archive, archive + std::string(".d"));
        ASSERT_EQ(outcome.status, ExtractStatus::Complete) << archive << ": " << outcome.reason;
        EXPECT_EQ(Files(archive + std::string(".d")), std::vector<std::string>{test::kKoreanNameCp949}) << archive;
        EXPECT_EQ(At(archive + std::string(".d"), test::kKoreanNameCp949), "korean name\n") << archive;
    }
}
#endif

// A flagged name code page 949 cannot write, and bsdtar's flag on bytes that are no UTF-8: each is
// refused with its reason, and the other entries still land.
TEST_F(ArchiveRealTools, NamesWithoutACp949FormAreRefusedAndTheRestLands) {
    ExtractOutcome outcome = ExtractInto("no-cp949-form.zip", "mixed");
    EXPECT_EQ(outcome.status, ExtractStatus::Failed);
    EXPECT_NE(outcome.reason.find("entry 1 of 2"), std::string::npos) << outcome.reason;
    EXPECT_NE(outcome.reason.find("no code page 949 form"), std::string::npos) << outcome.reason;
    EXPECT_EQ(Files("mixed"), std::vector<std::string>{"ok.dat"});
    EXPECT_EQ(At("mixed", "ok.dat"), "ok\n");

    outcome = ExtractInto("bsdtar-cp949.zip", "misflagged");
    EXPECT_EQ(outcome.status, ExtractStatus::Failed);
    EXPECT_NE(outcome.reason.find("not valid UTF-8"), std::string::npos) << outcome.reason;
    EXPECT_TRUE(Files("misflagged").empty());
}

}  // namespace
}  // namespace qr
