// The platform's durable writes over real files: files closed for the barrier, the barrier itself,
// and the INI write that records a version through a flushed temporary.
#include <gtest/gtest.h>

#include "patch/SettingsStore.h"
#include "platform/FileSystem.h"
#include "platform/FlushingFileSystem.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

TEST(PlatformDurability, FilesWrittenForTheBarrierAndFlushedOnTheirOwnAreKept) {
    test::TempDir dir;
    FileSystem& fs = SystemFileSystem();
    auto plain = fs.Create(dir.Join("plain.qrtmp"));
    ASSERT_TRUE(plain);
    ASSERT_TRUE(plain->Write("abc", 3));
    ASSERT_TRUE(plain->Close());
    ASSERT_TRUE(fs.Replace(dir.Join("plain.qrtmp"), dir.Join("plain.dat")));
    FlushingFileSystem flushing(fs);
    auto flushed = flushing.Create(dir.Join("flushed.dat"));
    ASSERT_TRUE(flushed);
    ASSERT_TRUE(flushed->Write(std::string(100000, 'f').data(), 100000));
    EXPECT_TRUE(flushed->Close());  // flushed before it closes
    auto removed = fs.Create(dir.Join("removed.dat"));
    ASSERT_TRUE(removed && removed->Close());
    ASSERT_TRUE(fs.Remove(dir.Join("removed.dat")));  // gone before the barrier: not its business
    EXPECT_TRUE(fs.MakeDurable(dir.path()));
    EXPECT_TRUE(fs.MakeDurable(dir.path()));  // nothing new: still fine
    EXPECT_EQ(test::ReadFileBytes(dir.Join("plain.dat")), "abc");
    EXPECT_EQ(test::ReadFileBytes(dir.Join("flushed.dat")), std::string(100000, 'f'));
#ifndef _WIN32
    EXPECT_FALSE(fs.MakeDurable(dir.Join("missing")));  // no file system to sync: nothing is promised
#endif
}

TEST(PlatformDurability, TheVersionIsRecordedThroughAFlushedTemporaryAndNothingElseChanges) {
    test::TempDir dir;
    test::WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=100\r\n[OTHER]\r\nkey=kept\r\n");
    auto settings = MakeFixedDirSettings(dir.path());
    SettingsStore store(*settings);
    store.SetFile(kVersionFileName);
    ASSERT_TRUE(store.WriteString("VERSION", "version", "102"));
    EXPECT_EQ(store.ReadString("VERSION", "version"), "102");
    EXPECT_EQ(store.ReadString("OTHER", "key"), "kept");
    EXPECT_FALSE(test::FileExists(dir.Join("VersionInfo.ini.qrtmp")));
    // A file that does not exist yet is made the same way.
    store.SetFile("option.ini");
    ASSERT_TRUE(store.WriteString("Member", "id", "player"));
    EXPECT_EQ(store.ReadString("Member", "id"), "player");
    EXPECT_EQ(test::ListFiles(dir.path()), (std::vector<std::string>{"VersionInfo.ini", "option.ini"}));
}

}  // namespace
}  // namespace qr
