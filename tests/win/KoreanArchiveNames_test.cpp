// Under Windows a Korean entry name must become the Korean file name, whether bsdtar flagged it as
// UTF-8 or Info-ZIP wrote it as code page 949 bytes: both archives land as one wide name.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "archive/ArchiveExtraction.h"
#include "release/ReleaseNames.h"
#include "tests/archive/RealArchives.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

const std::wstring kKoreanName = L"\xD55C\xAE00.dat";  // "한글.dat"

std::vector<std::wstring> WideNamesIn(const std::string& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const std::wstring pattern = std::wstring(dir.begin(), dir.end()) + L"\\*";
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

std::string ReadWide(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<cannot open>";
    char buffer[256];
    DWORD got = 0;
    ReadFile(h, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(h);
    return std::string(buffer, got);
}

TEST(KoreanArchiveNames, FlaggedUtf8AndUnflaggedCp949NamesLandAsTheSameKoreanFile) {
    test::TempDir scratch;
    const std::string archives = test::MakeRealArchives(scratch);
    if (archives.empty()) GTEST_SKIP() << "QR_TEST_REAL_ARCHIVES names no folder (tests/http/run_win_tests.sh makes them)";
    for (const char* archive : {"korean-utf8.zip", "korean-cp949.zip"}) {
        test::TempDir install;
        std::atomic<bool> run{true};
        std::atomic<int> done{0}, total{0};
        {
            test::CurrentDirGuard cwd(install.path());
            ExtractOutcome outcome = ExtractArchive(archives + "\\" + archive, LauncherExtractNaming(), &run, &done, &total);
            ASSERT_EQ(outcome.status, ExtractStatus::Complete) << archive << ": " << outcome.reason;
        }
        EXPECT_EQ(WideNamesIn(install.path()), std::vector<std::wstring>{kKoreanName}) << archive;
        const std::string dir = install.path();
        EXPECT_EQ(ReadWide(std::wstring(dir.begin(), dir.end()) + L"\\" + kKoreanName), "korean name\n") << archive;
    }
}

}  // namespace
}  // namespace qr
