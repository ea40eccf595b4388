// The Windows codes behind the causes a player reads: a file another program holds open, the
// read-only attribute, a full disk; and the barrier's flush of many files naming the one it could not.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/FileError.h"
#include "platform/FileSystem.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

FileFault LastFault() { return LastFileError().fault; }

class HeldOpen {
public:
    explicit HeldOpen(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldOpen() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

TEST(FileErrorCodes, SharingReadOnlyAndFullDiskAreToldApart) {
    test::TempDir dir;
    FileSystem& system = SystemFileSystem();
    const std::string game = dir.Join("game.dat");
    test::WriteFileBytes(game, "old");
    {
        HeldOpen other(game);  // as the running game holds its files, sharing nothing
        ASSERT_TRUE(other.held());
        EXPECT_EQ(system.Create(game), nullptr);
        EXPECT_EQ(LastFault(), FileFault::InUse);
        EXPECT_EQ(LastFileError().code, static_cast<long>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(DescribeFileError(LastFileError()), "in use by another program");
        EXPECT_EQ(system.OpenRead(game), nullptr);
        EXPECT_EQ(LastFault(), FileFault::InUse);
    }

    ASSERT_TRUE(SetFileAttributesA(game.c_str(), FILE_ATTRIBUTE_READONLY));
    // The system's ERROR_ACCESS_DENIED, read as the attribute.
    EXPECT_FALSE(system.Remove(game));
    EXPECT_EQ(LastFault(), FileFault::ReadOnly);
    EXPECT_EQ(LastFileError().code, static_cast<long>(ERROR_ACCESS_DENIED));
    test::WriteFileBytes(game + ".new", "new");
    EXPECT_FALSE(system.Replace(game + ".new", game));
    EXPECT_EQ(DescribeFileError(LastFileError()), "read-only");
    ASSERT_TRUE(SetFileAttributesA(game.c_str(), FILE_ATTRIBUTE_NORMAL));

    for (DWORD full : {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL})
        EXPECT_EQ(DescribeSystemError(static_cast<long>(full)), "disk full");
    EXPECT_EQ(DescribeSystemError(static_cast<long>(ERROR_PATH_NOT_FOUND)), "path not found");
    EXPECT_EQ(DescribeSystemError(static_cast<long>(ERROR_CRC)), "system error 23");
}

TEST(FileErrorCodes, TheBarrierFlushesEveryWrittenFileAndNamesOneHeldOpen) {
    test::TempDir dir;
    FileSystem& system = SystemFileSystem();
    for (int i = 0; i < 100; ++i) {
        auto file = system.Create(dir.Join("f" + std::to_string(i) + ".dat"));
        ASSERT_TRUE(file && file->Write("x", 1) && file->Close());
    }
    {
        HeldOpen other(dir.Join("f61.dat"));
        ASSERT_TRUE(other.held());
        EXPECT_FALSE(system.MakeDurable(dir.path()));
        EXPECT_EQ(LastFault(), FileFault::InUse);
        EXPECT_NE(LastFileError().path.find("f61.dat"), std::string::npos) << LastFileError().path;
    }
    for (int i = 100; i < 140; ++i) {
        auto file = system.Create(dir.Join("f" + std::to_string(i) + ".dat"));
        ASSERT_TRUE(file && file->Write("x", 1) && file->Close());
    }
    EXPECT_TRUE(system.MakeDurable(dir.path()));
}

}  // namespace
}  // namespace qr
