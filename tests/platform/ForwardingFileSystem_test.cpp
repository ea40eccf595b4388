// Every file-system layer passes on what it does not change: each one over a recording fake, with
// real files beneath, gets every operation through (appends and listings included, which layers
// used to drop and so hid resumed downloads from them).
#include "platform/ForwardingFileSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "patch/SelfReplacingFileSystem.h"
#include "platform/FileError.h"
#include "platform/FlushingFileSystem.h"
#include "tests/archive/FaultyFileSystem.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

struct Layer {
    const char* name;
    std::function<std::unique_ptr<FileSystem>(FileSystem&)> over;
};

std::vector<Layer> Layers() {
    return {
        {"a layer that changes nothing", [](FileSystem& inner) { return std::make_unique<ForwardingFileSystem>(inner); }},
        {"the flushing layer", [](FileSystem& inner) { return std::make_unique<FlushingFileSystem>(inner); }},
        {"the self-replacing layer",
         [](FileSystem& inner) {
             return std::make_unique<SelfReplacingFileSystem>(inner, [](const std::string&) { return false; });
         }},
    };
}

bool WriteAll(std::unique_ptr<WritableFile> file, const std::string& bytes) {
    return file && file->Write(bytes.data(), bytes.size()) && file->Close();
}

TEST(ForwardingFileSystem, EveryLayerPassesEveryOperationThrough) {
    for (const Layer& layer : Layers()) {
        SCOPED_TRACE(layer.name);
        test::TempDir dir;
        test::CurrentDirGuard cwd(dir.path());
        test::FaultyFileSystem recorder;
        std::unique_ptr<FileSystem> fs = layer.over(recorder);

        EXPECT_EQ(fs->MakeDirectory("d"), MakeDirResult::Created);
        EXPECT_TRUE(fs->IsDirectory("d"));
        EXPECT_TRUE(WriteAll(fs->Create("d/a"), "kept "));
        EXPECT_TRUE(WriteAll(fs->OpenAppend("d/a"), "and resumed"));
        std::unique_ptr<ReadableFile> read = fs->OpenRead("d/a");
        ASSERT_NE(read, nullptr);
        std::string bytes(static_cast<size_t>(read->Size()), '\0');
        EXPECT_EQ(read->ReadAt(0, &bytes[0], bytes.size()), bytes.size());
        read.reset();
        EXPECT_EQ(bytes, "kept and resumed");
        std::vector<DirectoryEntry> entries;
        EXPECT_TRUE(fs->ListDirectory("d", entries));
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, "a");
        EXPECT_TRUE(fs->Replace("d/a", "d/b"));
        EXPECT_TRUE(fs->MakeDurable("."));
        EXPECT_TRUE(fs->Remove("d/b"));
        EXPECT_TRUE(fs->ChangeDirectory("d"));
        EXPECT_EQ(std::filesystem::current_path().filename(), "d");

        for (const char* call : {"mkdir d", "create d/a", "append d/a", "open d/a", "replace d/a > d/b", "durable .",
                                 "remove d/b"})
            EXPECT_EQ(recorder.CallsMentioning(call).size(), 1u) << call;
    }
}

TEST(ForwardingFileSystem, TheCauseOfAFailureBelowReachesTheCaller) {
    for (const Layer& layer : Layers()) {
        SCOPED_TRACE(layer.name);
        test::TempDir dir;
        test::CurrentDirGuard cwd(dir.path());
        test::FaultyFileSystem full;
        full.diskRoom["a.dat"] = 10;
        std::unique_ptr<FileSystem> fs = layer.over(full);
        std::unique_ptr<WritableFile> file = fs->Create("a.dat");
        ASSERT_NE(file, nullptr);
        EXPECT_FALSE(file->Write("more than ten bytes", 19));
        EXPECT_EQ(DescribeFileError(LastFileError()), "disk full");
        file->Close();
        file.reset();
        EXPECT_FALSE(fs->Replace("a.dat", "missing/b.dat"));
        EXPECT_EQ(DescribeFileError(LastFileError()), "path not found");
    }
}

}  // namespace
}  // namespace qr
