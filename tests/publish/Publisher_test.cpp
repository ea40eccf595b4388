// Publishing over the real file system with failures injected: whatever fails, the release
// directory is left exactly as it was.
#include "tools/publish/Publisher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "tests/archive/FaultyFileSystem.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"
#include "tools/publish/ReleasePlan.h"

namespace qr::publish {
namespace {

std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const std::string& name : test::ListFiles(dir)) files[name] = test::ReadFileBytes(dir + "/" + name);
    return files;
}

class PublisherTest : public ::testing::Test {
protected:
    PublisherTest() : here_(dir_.path()) {
        std::filesystem::create_directories("release");
        Tree(1, {{"readme.txt", "v1"}, {"data/map01.map", test::RandomBytes(20000, 1)}, {"bin/game.dll", "dll v1"}});
        Tree(2, {{"readme.txt", "v2"}, {"data/map01.map", test::RandomBytes(30000, 2)}, {"bin/game.dll", "dll v1"},
                 {"sound/new.ogg", test::RandomBytes(90000, 3)}});
    }

    void Tree(int n, const std::map<std::string, std::string>& files) {
        for (const auto& [name, data] : files) {
            const std::string path = "tree" + std::to_string(n) + "/" + name;
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            test::WriteFileBytes(path, data);
        }
    }

    int Run(FileSystem& fs, int tree, int version, bool archive) {
        PublishOptions options;
        options.releaseDir = "release";
        options.treeDir = "tree" + std::to_string(tree);
        options.version = version;
        options.archive = archive;
        options.baseUrl = "http://127.0.0.1:8080";
#ifndef _WIN32
        // The signature is one of the files that must come and go with the rest. (The Windows signer
        // is driven end to end under Wine by the publish script test.)
        options.signKeyPath = std::string(QR_SOURCE_DIR) + "/tools/demo-keys/demo-release-key.pem";
#endif
        out_.str("");
        err_.str("");
        return Publish(options, fs, out_, err_);
    }

    test::TempDir dir_;
    test::CurrentDirGuard here_;
    std::ostringstream out_, err_;
};

TEST_F(PublisherTest, AFailureAtAnyStepLeavesTheReleaseAsItWas) {
    ASSERT_EQ(0, Run(SystemFileSystem(), 1, 101, false)) << err_.str();
    const auto before = Snapshot("release");
    struct Fault {
        const char* what;
        std::function<void(test::FaultyFileSystem&)> arm;
        bool archive;
        const char* cause;  // as the operator reads it
    };
    const std::vector<Fault> faults = {
        {"the description cannot be moved into place",
         [](test::FaultyFileSystem& fs) { fs.failReplace.insert("release/tzan/PatchInfo.ini"); }, false,
         "(in use by another program)"},
        {"the patch list, moved last, cannot be moved into place",
         [](test::FaultyFileSystem& fs) { fs.failReplace.insert("release/tzan/patch.txt"); }, false,
         "(in use by another program)"},
#ifndef _WIN32
        {"the signature cannot be created",
         [](test::FaultyFileSystem& fs) { fs.failCreate.insert("release/tzan/PatchInfo.ini.sig.publishing"); }, false,
         "(path not found)"},
#endif
        {"the disk fills while the archive is written",
         [](test::FaultyFileSystem& fs) { fs.diskRoom["release/tzan/patch/patch102.zip.publishing"] = 40000; }, true,
         "(disk full)"},
        {"the disk fills while a changed file is copied",
         [](test::FaultyFileSystem& fs) { fs.diskRoom["release/tzan/patch/data/map01.bap.publishing"] = 1000; }, false,
         "(disk full)"},
        {"the copy of a replaced file cannot be kept",
         [](test::FaultyFileSystem& fs) { fs.failCreate.insert("release/tzan/PatchInfo.ini.replaced"); }, false,
         "(path not found)"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        test::FaultyFileSystem fs;
        fault.arm(fs);
        EXPECT_EQ(1, Run(fs, 2, 102, fault.archive));
        EXPECT_NE(std::string::npos, err_.str().find("nothing was published")) << err_.str();
        EXPECT_NE(std::string::npos, err_.str().find(fault.cause)) << err_.str();
        EXPECT_EQ(before, Snapshot("release"));
    }
    // And afterwards the same publish goes through.
    ASSERT_EQ(0, Run(SystemFileSystem(), 2, 102, false)) << err_.str();
    EXPECT_NE(before, Snapshot("release"));
    EXPECT_EQ(test::ReadFileBytes("tree2/data/map01.map"), test::ReadFileBytes("release/tzan/patch/data/map01.bap"));
}

TEST_F(PublisherTest, RefusalsComeBeforeAnythingIsWritten) {
    ASSERT_EQ(0, Run(SystemFileSystem(), 1, 101, false)) << err_.str();
    const auto before = Snapshot("release");
    test::FaultyFileSystem fs;
    EXPECT_EQ(1, Run(fs, 2, 101, false));
    EXPECT_NE(std::string::npos, err_.str().find("not higher")) << err_.str();
    EXPECT_TRUE(fs.CallsMentioning("create").empty());
    EXPECT_EQ(before, Snapshot("release"));
}

TEST(PatchListTextTest, FitsTheBytesTheLauncherReads) {
    std::string problem;
    const auto text = PatchListText("http://127.0.0.1:8080/", "", problem);
    ASSERT_TRUE(text) << problem;
    EXPECT_EQ("[QuorvelRPG]\ninfo=http://127.0.0.1:8080/tzan/PatchInfo.ini\nnews=http://127.0.0.1:8080/tzan/news.html\n"
              "base=http://127.0.0.1:8080/tzan/patch\n",
              *text);
    EXPECT_FALSE(PatchListText("http://" + std::string(60, 'h') + ".example", "", problem));
    EXPECT_NE(std::string::npos, problem.find("200")) << problem;
    EXPECT_FALSE(PatchListText("ftp://host", "", problem));
    EXPECT_FALSE(PatchListText("http://host/a b", "", problem));
}

}  // namespace
}  // namespace qr::publish
