// The cause of a failed file-system call, as the system adaptor records it over real files (native,
// and the Windows build under wine64 with the Windows codes).
#include "platform/FileError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/FileSystem.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

namespace fs = std::filesystem;

void ExpectCause(FileFault fault, const char* call, const std::string& path) {
    const FileError error = LastFileError();
    EXPECT_EQ(static_cast<int>(error.fault), static_cast<int>(fault)) << DescribeFileError(error);
    EXPECT_EQ(error.call, call);
    EXPECT_EQ(fs::path(error.path), fs::path(path));
    EXPECT_NE(error.code, 0);
}

TEST(FileError, EachFailedCallStatesItsCauseAndASuccessClearsIt) {
    test::TempDir dir;
    FileSystem& system = SystemFileSystem();

    // A read-only target: the player must hear read-only, not "in use".
    const std::string game = dir.Join("game.dat");
    test::WriteFileBytes(game, "old");
    test::WriteFileBytes(game + ".new", "new");
    fs::permissions(game, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(system.Replace(game + ".new", game));
    ExpectCause(FileFault::ReadOnly, "replace", game);
    EXPECT_EQ(DescribeFileError(LastFileError()), "read-only");
    fs::permissions(game, fs::perms::owner_write, fs::perm_options::add);

    // A directory that is not there.
    const std::string lost = dir.Join("missing") + "/data/a.dat";
    EXPECT_EQ(system.Create(lost), nullptr);
    ExpectCause(FileFault::NotFound, "create", lost);
    EXPECT_EQ(DescribeFileError(LastFileError()), "path not found");
    EXPECT_EQ(system.OpenRead(lost), nullptr);
    ExpectCause(FileFault::NotFound, "open", lost);
    EXPECT_EQ(system.OpenAppend(lost), nullptr);
    ExpectCause(FileFault::NotFound, "append", lost);
    EXPECT_FALSE(system.Remove(lost));
    ExpectCause(FileFault::NotFound, "remove", lost);
    EXPECT_EQ(system.MakeDirectory(dir.Join("missing") + "/data"), MakeDirResult::Failed);
    EXPECT_EQ(static_cast<int>(LastFileError().fault), static_cast<int>(FileFault::NotFound));

    // The moved file that is missing is the one named.
    EXPECT_FALSE(system.Replace(dir.Join("gone.new"), game));
    ExpectCause(FileFault::NotFound, "replace", dir.Join("gone.new"));

    // The next call that succeeds leaves no stale cause behind.
    EXPECT_TRUE(system.Replace(game + ".new", game));
    EXPECT_EQ(static_cast<int>(LastFileError().fault), static_cast<int>(FileFault::None));
    EXPECT_EQ(DescribeFileError(LastFileError()), "cause unknown");
}

TEST(FileError, TheCauseBelongsToTheThreadWhoseCallFailed) {
    test::TempDir dir;
    EXPECT_EQ(SystemFileSystem().OpenRead(dir.Join("nothing")), nullptr);
    FileFault seenElsewhere = FileFault::Other;
    std::thread([&] { seenElsewhere = LastFileError().fault; }).join();
    EXPECT_EQ(static_cast<int>(seenElsewhere), static_cast<int>(FileFault::None));
    EXPECT_EQ(static_cast<int>(LastFileError().fault), static_cast<int>(FileFault::NotFound));
}

#ifndef _WIN32
// A real full disk: the kernel's always-full device refuses the bytes when they are handed over.
TEST(FileError, AFullDiskIsReportedAsSuch) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::unique_ptr<WritableFile> file = SystemFileSystem().Create("/dev/full");
    ASSERT_NE(file, nullptr);
    const std::string block(1 << 17, 'x');  // past what is gathered before the first write
    EXPECT_FALSE(file->Write(block.data(), block.size()));
    ExpectCause(FileFault::DiskFull, "write", "/dev/full");
    EXPECT_EQ(DescribeFileError(LastFileError()), "disk full");
    // Closing the failed file repeats the first cause rather than inventing another.
    EXPECT_FALSE(file->Close());
    ExpectCause(FileFault::DiskFull, "close", "/dev/full");
}
#endif

}  // namespace
}  // namespace qr
