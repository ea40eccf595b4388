// Files as they are found on a player's machine, over real files: a read-only game file, two runs
// on one install directory, and a patch that brings the running program's own file.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "archive/ArchiveExtraction.h"
#include "patch/SelfReplacingFileSystem.h"
#include "platform/FileSystem.h"
#include "platform/InstallLock.h"
#include "platform/RunningProgram.h"
#include "release/ReleaseNames.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

namespace fs = std::filesystem;
using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

void MakeReadOnly(const std::string& path, bool readOnly) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

TEST(ReadOnlyGameFile, IsNeverReplacedByTheFileLayerOrAnArchive) {
    test::TempDir dir;
    const std::string game = dir.Join("game.dat");
    const std::string fresh = dir.Join("game.dat.qrtmp");
    WriteFileBytes(game, "old game");
    WriteFileBytes(fresh, "new game");
    MakeReadOnly(game, true);
    EXPECT_FALSE(SystemFileSystem().Replace(fresh, game));
    EXPECT_EQ(ReadFileBytes(game), "old game");
    EXPECT_EQ(ReadFileBytes(fresh), "new game");  // the caller decides what becomes of it

    // An archive entry for it fails the extraction, keeps the file and leaves no temporary file;
    // the entries after it still land.
    test::ZipBuilder zip;
    zip.Add("game.dat", "from the archive");
    zip.Add("other.txt", "other");
    test::WriteFileBytes(dir.Join("patch.zip"), zip.Build());
    fs::remove(fresh);
    {
        test::CurrentDirGuard cwd(dir.path());
        std::atomic<bool> run{true};
        const ExtractOutcome outcome = ExtractArchive("patch.zip", LauncherExtractNaming(), &run, nullptr, nullptr);
        EXPECT_EQ(outcome.status, ExtractStatus::Failed) << outcome.reason;
        // The player is told what to change, not sent looking for another program.
        EXPECT_NE(outcome.reason.find("(read-only)"), std::string::npos) << outcome.reason;
        EXPECT_EQ(outcome.reason.find("in use"), std::string::npos) << outcome.reason;
    }
    EXPECT_EQ(ReadFileBytes(game), "old game");
    EXPECT_EQ(ReadFileBytes(dir.Join("other.txt")), "other");
    EXPECT_FALSE(FileExists(dir.Join("game.dat.qrtmp")));

    // Once writable again it is replaced as any file.
    MakeReadOnly(game, false);
    WriteFileBytes(fresh, "new game");
    EXPECT_TRUE(SystemFileSystem().Replace(fresh, game));
    EXPECT_EQ(ReadFileBytes(game), "new game");
}

#ifndef _WIN32
TEST(ReplacedFile, KeepsThePermissionsOfTheFileItReplaces) {
    test::TempDir dir;
    const std::string tool = dir.Join("server-tool.sh");
    WriteFileBytes(tool, "old");
    fs::permissions(tool, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    WriteFileBytes(tool + ".qrtmp", "new");
    ASSERT_TRUE(SystemFileSystem().Replace(tool + ".qrtmp", tool));
    EXPECT_EQ(ReadFileBytes(tool), "new");
    EXPECT_EQ(fs::status(tool).permissions(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}
#endif

// From another thread: a mutex is re-entrant for the thread that holds it, another run never is.
InstallLockStatus TryFromAnotherThread(const std::string& dir) {
    InstallLockStatus status = InstallLockStatus::Unavailable;
    std::thread([&] { status = TryLockInstall(dir).status; }).join();
    return status;
}

TEST(InstallLock, OneRunPerDirectoryWhateverItsSpelling) {
    test::TempDir dir;
    const std::string install = dir.Join("Game Dir");
    const std::string other = dir.Join("other");
    fs::create_directory(install);
    fs::create_directory(other);
    {
        InstallLockResult first = TryLockInstall(install);
        ASSERT_EQ(first.status, InstallLockStatus::Acquired);
        ASSERT_TRUE(first.lock);
        EXPECT_EQ(TryFromAnotherThread(install), InstallLockStatus::HeldElsewhere);
        EXPECT_EQ(TryFromAnotherThread(install + "/"), InstallLockStatus::HeldElsewhere);
        EXPECT_EQ(TryFromAnotherThread(install + "/./"), InstallLockStatus::HeldElsewhere);
#ifdef _WIN32
        EXPECT_EQ(TryFromAnotherThread(dir.path() + "\\GAME DIR\\"), InstallLockStatus::HeldElsewhere);
        EXPECT_EQ(TryFromAnotherThread(dir.path() + "/game dir"), InstallLockStatus::HeldElsewhere);
#endif
        {
            test::CurrentDirGuard cwd(install);
            EXPECT_EQ(TryFromAnotherThread(""), InstallLockStatus::HeldElsewhere);  // the current directory
        }
        EXPECT_EQ(InstallLockName(install), InstallLockName(install + "/"));
        EXPECT_NE(InstallLockName(install), InstallLockName(other));
        EXPECT_EQ(TryFromAnotherThread(other), InstallLockStatus::Acquired);
    }
    // Given up with the object, and nothing is left in the install directory.
    EXPECT_TRUE(test::ListFiles(install).empty());
    InstallLockResult again = TryLockInstall(install);
    EXPECT_EQ(again.status, InstallLockStatus::Acquired);
}

class SelfReplace : public ::testing::Test {
protected:
    SelfReplace() {
        WriteFileBytes(program_, "running launcher");
        WriteFileBytes(fresh_, "new launcher");
    }
    test::TempDir dir_;
    const std::string program_ = dir_.Join("QuorvelLauncher.exe");
    const std::string fresh_ = dir_.Join("QuorvelLauncher.exe.qrtmp");
    const std::string aside_ = program_ + kMovedAsideSuffix;
    SelfReplacingFileSystem fs_{SystemFileSystem(), [this](const std::string& path) { return path == program_; }};
};

TEST_F(SelfReplace, TheRunningFileMovesAsideAndTheNewOneTakesItsName) {
    WriteFileBytes(aside_, "left by an earlier update");
    ASSERT_TRUE(fs_.Replace(fresh_, program_));
    EXPECT_EQ(ReadFileBytes(program_), "new launcher");
    EXPECT_EQ(ReadFileBytes(aside_), "running launcher");
    EXPECT_FALSE(FileExists(fresh_));

    // Any other file is replaced in place, with nothing moved aside.
    const std::string data = dir_.Join("data.pak");
    WriteFileBytes(data, "old");
    WriteFileBytes(data + ".qrtmp", "new");
    ASSERT_TRUE(fs_.Replace(data + ".qrtmp", data));
    EXPECT_EQ(ReadFileBytes(data), "new");
    EXPECT_FALSE(FileExists(data + kMovedAsideSuffix));
}

TEST_F(SelfReplace, WhenTheNewFileCannotTakeTheNameTheRunningOneKeepsIt) {
    fs::remove(fresh_);
    EXPECT_FALSE(fs_.Replace(fresh_, program_));
    EXPECT_EQ(ReadFileBytes(program_), "running launcher");
    EXPECT_FALSE(FileExists(aside_));
}

TEST(RunningProgram, IsKnownByIdentityNotByName) {
    const std::string self = RunningProgramPath();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(IsRunningProgramFile(self));
    const fs::path path(self);
    EXPECT_TRUE(IsRunningProgramFile((path.parent_path() / "." / path.filename()).string()));
    test::TempDir dir;
    const std::string copy = dir.Join(path.filename().string());
    fs::copy_file(self, copy);
    EXPECT_FALSE(IsRunningProgramFile(copy));  // same name and bytes, another file
    EXPECT_FALSE(IsRunningProgramFile(dir.Join("missing.exe")));
}

}  // namespace
}  // namespace qr
