// Whole-archive extraction over real files in a scratch directory, with a file system that can
// fail on purpose: what lands on disk, what is kept, and what the outcome says.
#include "archive/ArchiveExtraction.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "release/ReleaseNames.h"
#include "tests/archive/FaultyFileSystem.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::FaultyFileSystem;
using test::ZipBuilder;

class ArchiveExtraction : public ::testing::Test {
protected:
    ArchiveExtraction() : install_(dir_.Join("install")) {
        std::filesystem::create_directory(install_);
        cwd_ = std::make_unique<test::CurrentDirGuard>(install_);
    }
    std::string WriteArchive(const ZipBuilder& zip) {
        const std::string path = dir_.Join("patch.zip");
        test::WriteFileBytes(path, zip.Build());
        return path;
    }
    ExtractOutcome Extract(const ZipBuilder& zip) {
        return ExtractArchive(WriteArchive(zip), LauncherExtractNaming(), &run_, &done_, &total_, fs_);
    }
    std::string At(const std::string& name) { return test::ReadFileBytes(install_ + "/" + name); }
    std::vector<std::string> Files() { return test::ListFiles(install_); }
    // Empties the install directory in place: it stays the current directory.
    void ClearInstall() {
        for (const auto& entry : std::filesystem::directory_iterator(install_)) std::filesystem::remove_all(entry.path());
    }

    test::TempDir dir_;
    std::string install_;
    std::unique_ptr<test::CurrentDirGuard> cwd_;
    FaultyFileSystem fs_;
    std::atomic<bool> run_{true};
    std::atomic<int> done_{-1}, total_{-1};
};

TEST_F(ArchiveExtraction, ExtractsTreesReplacingFilesAndMakingDirectories) {
    test::WriteFileBytes(install_ + "/data/maps/a.map", std::string(100000, 'o'));  // longer than the new one
    std::filesystem::remove(install_ + "/data/maps/a.map");
    std::filesystem::remove(install_ + "/data/maps");
    test::WriteFileBytes(install_ + "/old.txt", std::string(5000, 'o'));
    ZipBuilder zip;
    zip.Add("data/maps/a.map", test::TextBytes(70000, 1), true);
    zip.Add("old.txt", "new");
    zip.Add("empty/dir/", "");
    zip.Add("win\\style\\name.dat", test::RandomBytes(20000, 2));
    zip.Add("zero.bin", "");
    ExtractOutcome outcome = Extract(zip);
    EXPECT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    EXPECT_EQ(Files(), (std::vector<std::string>{"data/maps/a.map", "old.txt", "win/style/name.dat", "zero.bin"}));
    EXPECT_EQ(At("data/maps/a.map"), test::TextBytes(70000, 1));
    EXPECT_EQ(At("old.txt"), "new");  // replaced, not appended to
    EXPECT_EQ(At("win/style/name.dat"), test::RandomBytes(20000, 2));
    EXPECT_TRUE(std::filesystem::is_directory(install_ + "/empty/dir"));
    EXPECT_TRUE(fs_.CallsMentioning("create empty").empty());  // a directory entry writes no file
}

TEST_F(ArchiveExtraction, CountersAreSetBeforeEachEntrysDataAndTheFlagStopsBetweenEntries) {
    ZipBuilder zip;
    for (int i = 1; i <= 4; ++i) zip.Add("f" + std::to_string(i), test::RandomBytes(70000, i));
    std::vector<std::pair<int, int>> seen;
    fs_.onWrite = [&] { seen.emplace_back(done_.load(), total_.load()); };
    ExtractOutcome outcome = Extract(zip);
    ASSERT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    // Entries run side by side: while any is written the count is at least 1, it never goes back,
    // and it ends at the total.
    ASSERT_EQ(seen.size(), 8u);  // two chunks per entry (65536 + 4464)
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].first, 1);
        EXPECT_LE(seen[i].first, 4);
        EXPECT_EQ(seen[i].second, 4);
        if (i > 0) {
            EXPECT_GE(seen[i].first, seen[i - 1].first);
        }
    }
    EXPECT_EQ(done_, 4);
    EXPECT_EQ(total_, 4);

    // Cleared while entry 2 is written: entry 2 is finished, and so is any other entry already in
    // flight; nothing else is touched.
    ClearInstall();
    fs_.calls.clear();
    fs_.onWrite = nullptr;
    fs_.onCreate = [&](const std::string& path) {
        if (path == "f2.qrnew") run_ = false;
    };
    outcome = Extract(zip);
    EXPECT_NE(outcome.status, ExtractStatus::Failed) << outcome.reason;
    EXPECT_EQ(At("f2"), test::RandomBytes(70000, 2));
    for (const std::string& file : Files()) EXPECT_EQ(At(file), test::RandomBytes(70000, file[1] - '0')) << file;
    EXPECT_EQ(static_cast<size_t>(done_.load()), Files().size());  // every entry started has landed
    EXPECT_EQ(fs_.CallsMentioning("create").size(), Files().size());
}

TEST_F(ArchiveExtraction, WritesInTransferSizedChunks) {
    ZipBuilder zip;
    zip.Add("exact", test::RandomBytes(65536, 1), true);
    zip.Add("oneMore", test::RandomBytes(65537, 2));
    zip.Add("big", test::TextBytes(200000, 3), true);
    ASSERT_EQ(Extract(zip).status, ExtractStatus::Complete);
    EXPECT_EQ(fs_.writeSizesByPath["exact.qrnew"], (std::vector<size_t>{65536}));
    EXPECT_EQ(fs_.writeSizesByPath["oneMore.qrnew"], (std::vector<size_t>{65536, 1}));
    EXPECT_EQ(fs_.writeSizesByPath["big.qrnew"], (std::vector<size_t>{65536, 65536, 65536, 3392}));
    EXPECT_EQ(At("big"), test::TextBytes(200000, 3));
}

TEST_F(ArchiveExtraction, DamagedEntriesNeverReplaceTheOldFile) {
    const std::vector<std::pair<const char*, void (*)(test::ZipBuildEntry&)>> damages = {
        {"crc", [](test::ZipBuildEntry& e) { e.crc = 0x12345678; }},
        {"corrupt", [](test::ZipBuildEntry& e) { e.payload = test::RawDeflate(e.data).substr(0, 500) + std::string(40, '\xee'); }},
        {"short", [](test::ZipBuildEntry& e) { e.uncompressedSize = 200000; }},
        {"cut",
         [](test::ZipBuildEntry& e) {
             e.deflate = false;
             e.compressedSize = e.uncompressedSize = 1u << 30;
         }},
        {"encrypted", [](test::ZipBuildEntry& e) { e.flags = 1; }},
        {"no local header", [](test::ZipBuildEntry& e) { e.breakLocalSignature = true; }},
    };
    for (const auto& [what, apply] : damages) {
        test::WriteFileBytes(install_ + "/game.dat", "old contents");
        ZipBuilder zip;
        apply(zip.Add("game.dat", test::TextBytes(100000, 4), true));
        zip.Add("after.txt", "after");
        ExtractOutcome outcome = Extract(zip);
        EXPECT_EQ(outcome.status, ExtractStatus::Failed) << what;
        EXPECT_NE(outcome.reason.find("entry 1 of 2 \"game.dat\""), std::string::npos) << what << ": " << outcome.reason;
        EXPECT_EQ(At("game.dat"), "old contents") << what;
        EXPECT_EQ(Files(), (std::vector<std::string>{"after.txt", "game.dat"})) << what;  // no temporary file left
        std::filesystem::remove(install_ + "/after.txt");
    }
}

TEST_F(ArchiveExtraction, WriteCreateAndReplaceFailuresKeepTheOldFileAndGoOn) {
    test::WriteFileBytes(install_ + "/full.dat", "old full");
    test::WriteFileBytes(install_ + "/locked.dat", "old locked");
    test::WriteFileBytes(install_ + "/busy.dat", "old busy");
    fs_.diskRoom["full.dat.qrnew"] = 70000;
    fs_.failCreate.insert("locked.dat.qrnew");
    fs_.failReplace.insert("busy.dat");
    ZipBuilder zip;
    zip.Add("full.dat", test::RandomBytes(150000, 1));
    zip.Add("locked.dat", "new locked");
    zip.Add("busy.dat", "new busy");
    zip.Add("fine.dat", "fine");
    ExtractOutcome outcome = Extract(zip);
    EXPECT_EQ(outcome.status, ExtractStatus::Failed);
    EXPECT_NE(outcome.reason.find("\"full.dat\": writing the file failed"), std::string::npos) << outcome.reason;
    EXPECT_NE(outcome.reason.find("writing the file failed (disk full)"), std::string::npos) << outcome.reason;
    EXPECT_NE(outcome.reason.find("and 2 more failed entries"), std::string::npos) << outcome.reason;
    EXPECT_EQ(At("full.dat"), "old full");
    EXPECT_EQ(At("locked.dat"), "old locked");
    EXPECT_EQ(At("busy.dat"), "old busy");
    EXPECT_EQ(At("fine.dat"), "fine");
    EXPECT_EQ(Files(), (std::vector<std::string>{"busy.dat", "fine.dat", "full.dat", "locked.dat"}));
}

TEST_F(ArchiveExtraction, HostileNamesNeverReachTheFileSystem) {
    const std::vector<std::string> names = {
        "../escape", "a/../../escape", "..\\escape", "a\\..\\..\\escape", "/etc/escape", "\\escape",
        "C:escape", "C:\\escape", "file.txt:stream", "./a/./../../b", "./../escape", "", "bad\x01name", "x.qrtmp", ".//x.qrtmp", "x.qrnew", "dir.QRTMP. /x",
        std::string(512, 'n'), std::string(700, 'n'),
    };
    for (const std::string& hostile : names) {
        fs_.calls.clear();
        ZipBuilder zip;
        zip.Add(hostile, "payload");
        zip.Add("ok.txt", "ok");
        const std::string archive = WriteArchive(zip);
        ExtractOutcome outcome = ExtractArchive(archive, LauncherExtractNaming(), &run_, &done_, &total_, fs_);
        EXPECT_EQ(outcome.status, ExtractStatus::Failed) << hostile;
        EXPECT_NE(outcome.reason.find("entry 1 of 2"), std::string::npos) << outcome.reason;
        // Only the archive itself and the harmless entry were touched.
        EXPECT_EQ(fs_.calls, (std::vector<std::string>{"open " + archive, "create ok.txt.qrnew", "replace ok.txt.qrnew > ok.txt"}))
            << hostile;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"ok.txt"});
    EXPECT_EQ(test::ListFiles(dir_.path()), (std::vector<std::string>{"install/ok.txt", "patch.zip"}));
}

// What reaches the file system is the name without its "." and empty components.
TEST_F(ArchiveExtraction, DotAndEmptyComponentsAreDroppedBeforeANameIsUsed) {
    ZipBuilder zip;
    zip.Add("./", "");
    zip.Add("./data/", "");
    zip.Add("a/./b", "b");
    zip.Add("data//c.dat", "c", true);
    zip.Add(".\\win\\.\\d.dat", "d");
    ExtractOutcome outcome = Extract(zip);
    ASSERT_EQ(outcome.status, ExtractStatus::Complete) << outcome.reason;
    EXPECT_EQ(Files(), (std::vector<std::string>{"a/b", "data/c.dat", "win/d.dat"}));
    EXPECT_EQ(At("data/c.dat"), "c");
    for (const std::string& call : fs_.calls) {
        if (call.rfind("open ", 0) == 0) continue;
        EXPECT_EQ(call.find("./"), std::string::npos) << call;
        EXPECT_EQ(call.find(".\\"), std::string::npos) << call;
        EXPECT_EQ(call.find("//"), std::string::npos) << call;
    }
    // The directory entry and c.dat's parent: made once per archive (twice only when two threads
    // ask at the same moment).
    EXPECT_GE(fs_.CallsMentioning("mkdir data/").size(), 1u);
    EXPECT_LE(fs_.CallsMentioning("mkdir data/").size(), 2u);
}

TEST_F(ArchiveExtraction, ArchivesThatCannotBeReadTouchNothing) {
    const std::vector<std::string> bad = {"", "PK", "not a zip at all", test::RandomBytes(100000, 9)};
    for (const std::string& bytes : bad) {
        fs_.calls.clear();
        test::WriteFileBytes(dir_.Join("bad.zip"), bytes);
        ExtractOutcome outcome = ExtractArchive(dir_.Join("bad.zip"), LauncherExtractNaming(), &run_, &done_, &total_, fs_);
        EXPECT_EQ(outcome.status, ExtractStatus::Failed);
        EXPECT_EQ(fs_.calls.size(), 1u);
    }
    EXPECT_EQ(ExtractArchive(dir_.Join("missing.zip"), LauncherExtractNaming(), &run_, &done_, &total_, fs_).status, ExtractStatus::Failed);
    EXPECT_EQ(done_, -1);
    EXPECT_EQ(total_, -1);

    ZipBuilder empty;
    fs_.calls.clear();
    EXPECT_EQ(Extract(empty).status, ExtractStatus::Complete);
    EXPECT_EQ(fs_.calls.size(), 1u);
    EXPECT_TRUE(Files().empty());

    // A directory damaged after its first entry: the first is kept, the walk stops with a reason.
    ZipBuilder damaged;
    damaged.Add("one", "1");
    damaged.Add("two", "2").breakCentralSignature = true;
    ExtractOutcome outcome = Extract(damaged);
    EXPECT_EQ(outcome.status, ExtractStatus::Failed);
    EXPECT_NE(outcome.reason.find("damaged at entry 2 of 2"), std::string::npos) << outcome.reason;
    EXPECT_EQ(Files(), std::vector<std::string>{"one"});
}

TEST_F(ArchiveExtraction, MakeParentDirectoriesCreatesEveryPrefix) {
    EXPECT_EQ(MakeParentDirectories("a/b\\c/file.txt", fs_), 1);
    EXPECT_EQ(fs_.calls, (std::vector<std::string>{"mkdir a/", "mkdir a/b\\", "mkdir a/b\\c/"}));
    EXPECT_TRUE(std::filesystem::is_directory(install_ + "/a/b/c"));
    EXPECT_FALSE(std::filesystem::exists(install_ + "/a/b/c/file.txt"));
    EXPECT_EQ(MakeParentDirectories("a/b/", fs_), 1);  // already there
    EXPECT_EQ(MakeParentDirectories("", fs_), 1);
    EXPECT_EQ(MakeParentDirectories("plain", fs_), 1);
    fs_.calls.clear();
    std::string longest;
    while (longest.size() < 500) longest += std::string(99, 'x') + "/";
    longest += std::string(511 - longest.size(), 'y');
    EXPECT_EQ(MakeParentDirectories(longest, fs_), 1);  // 511 bytes still fit
    EXPECT_EQ(fs_.calls.size(), 5u);
    fs_.calls.clear();
    EXPECT_EQ(MakeParentDirectories(longest + "/", fs_), 0);  // 512 do not, and nothing is made
    EXPECT_EQ(MakeParentDirectories(std::string(600, 'x') + "/a", fs_), 0);
    EXPECT_TRUE(fs_.calls.empty());
    fs_.failMkdir.insert("ro/sub/");
    fs_.calls.clear();
    EXPECT_EQ(MakeParentDirectories("ro/sub/deeper/x", fs_), 0);  // gives up at the first failure
    EXPECT_EQ(fs_.calls, (std::vector<std::string>{"mkdir ro/", "mkdir ro/sub/"}));
}

// Archives made by Python's zipfile, the way an operator's tools make them, with and without a stub.
TEST_F(ArchiveExtraction, ExtractsArchivesMadeByPythonZipfile) {
    const std::string python = QR_PYTHON;
#ifdef _WIN32
    GTEST_SKIP() << "the build host's Python does not run under Windows";
#endif
    if (python.empty()) GTEST_SKIP() << "no Python";
    const std::string script = dir_.Join("make.py");
    test::WriteFileBytes(script, R"PY(
import os, random, sys, zipfile
src, out = sys.argv[1], sys.argv[2]
rng = random.Random(5)
files = {}
for i, size in enumerate([0, 1, 16383, 16384, 16385, 65535, 65536, 65537, 300000]):
    files["data/r%d.bin" % i] = bytes(rng.getrandbits(8) for _ in range(size))
    files["text/t%d.txt" % i] = (b"quorvel patch line %d\n" % i) * (size // 20 + 1)
for name, data in files.items():
    path = os.path.join(src, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
with zipfile.ZipFile(out, "w") as z:
    z.writestr(zipfile.ZipInfo("emptydir/"), b"")
    for n, (name, data) in enumerate(sorted(files.items())):
        z.writestr(name, data, zipfile.ZIP_DEFLATED if n % 3 else zipfile.ZIP_STORED)
with open(out + ".sfx", "wb") as f:
    f.write(b"MZ stub " * 4000 + open(out, "rb").read())
)PY");
    const std::string src = dir_.Join("src");
    const std::string zip = dir_.Join("py.zip");
    ASSERT_EQ(std::system((python + " " + script + " " + src + " " + zip).c_str()), 0);
    const std::vector<std::string> expected = test::ListFiles(src);
    ASSERT_EQ(expected.size(), 18u);
    for (const std::string& archive : {zip, zip + ".sfx"}) {
        ClearInstall();
        ExtractOutcome outcome = ExtractArchive(archive, LauncherExtractNaming(), &run_, &done_, &total_, fs_);
        ASSERT_EQ(outcome.status, ExtractStatus::Complete) << archive << ": " << outcome.reason;
        ASSERT_EQ(Files(), expected) << archive;
        for (const std::string& name : expected) EXPECT_EQ(At(name), test::ReadFileBytes(src + "/" + name)) << name;
        EXPECT_TRUE(std::filesystem::is_directory(install_ + "/emptydir"));
        EXPECT_EQ(done_, 19);
        EXPECT_EQ(total_, 19);
    }
}

}  // namespace
}  // namespace qr
