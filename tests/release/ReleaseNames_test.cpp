// The four places that decide whether a name may become a game file agree: what the publisher puts
// into a release, the worker fetches, the extraction unpacks and the repair restores; the launcher's
// own names are refused by all four.
#include "release/ReleaseNames.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "archive/ArchiveExtraction.h"
#include "release/ReleaseDescription.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TempDir.h"
#include "tools/publish/GameTree.h"

namespace qr {
namespace {

// Accepted: a tree with only this file publishes it.
bool PublisherAccepts(const std::string& name) {
#ifdef _WIN32
    // Windows cannot create a file whose name keeps a trailing dot or blank: ask what the tree scan asks.
    for (char c : {'.', ' '})
        if (name.back() == c || name.find(std::string(1, c) + "/") != std::string::npos)
            return PublishRefusal(name).empty() && !IsLauncherFile(name);
#endif
    test::TempDir tree;
    std::filesystem::create_directories(std::filesystem::path(tree.Join(name)).parent_path());
    test::WriteFileBytes(tree.Join(name), "game data");
    std::string problem;
    const auto scanned = publish::ScanGameTree(tree.path(), SystemFileSystem(), problem);
    return scanned && scanned->files.count(name) == 1;
}

// Accepted: a version listing it fetches it under that name, and nothing in the list is refused.
bool WorkerAccepts(const std::string& name) {
    const DescriptionText description =
        DescriptionText::Parse("[VERSION]\r\nversion=101\r\n[101]\r\n0=" + name + "\r\n");
    const DownloadListResult list = BuildDownloadList("100", "101", std::cref(description));
    return list.names == std::vector<std::string>{name} && list.refusedName.empty() && list.unwritable.empty() &&
           IsAcceptedGameFile(list.names.front());
}

// Accepted: an archive holding it unpacks it whole.
bool ExtractionAccepts(const std::string& name) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.Join("install"));
    test::ZipBuilder zip;
    zip.Add(name, "entry data");
    test::WriteFileBytes(dir.Join("p.zip"), zip.Build());
    test::CurrentDirGuard cwd(dir.Join("install"));
    std::atomic<bool> run{true};
    const ExtractOutcome outcome = ExtractArchive(dir.Join("p.zip"), LauncherExtractNaming(), &run, nullptr, nullptr);
    const bool landed = test::ReadFileBytes(dir.Join("install/" + name)) == "entry data";
    EXPECT_EQ(outcome.status == ExtractStatus::Complete, landed) << name << ": " << outcome.reason;
    return outcome.status == ExtractStatus::Complete && landed;
}

// Accepted: the manifest a repair works from holds it, as a plain item and as an archive entry.
bool RepairAccepts(const std::string& name) {
    const std::string line = std::string(64, 'a') + " 10";
    const ReleaseManifest plain = BuildReleaseManifest("[VERSION]\r\nversion=101\r\n[101]\r\n0=" + name +
                                                       "\r\n[101.sha256]\r\n0=" + line + "\r\n");
    const ReleaseManifest archived = BuildReleaseManifest(
        "[VERSION]\r\nversion=101\r\n[101]\r\n0=p101.zip\r\n[101.contents]\r\n" + name + "=" + line + "\r\n");
    // A listed archive lands its contents, not itself: it is only known by its served bytes.
    const bool asPlain = plain.refused.empty() &&
                         (IsArchiveItem(name) ? plain.served.count(name) == 1
                                              : plain.files.size() == 1 && plain.files[0].name == name);
    const bool asEntry = archived.refused.empty() && archived.files.size() == 1 && archived.files[0].name == name;
    EXPECT_EQ(asPlain, asEntry) << name;
    return asPlain && asEntry;
}

TEST(ReleaseNames, WhatThePublisherAcceptsEveryLauncherPathAccepts) {
    const std::string longest = std::string(kLongestPublishedName - 4, 'n') + ".dat";
    for (const std::string& name :
         {std::string("a.txt"), std::string("data/map01.map"), std::string("Data/Sub/x.DAT"), std::string("readme"),
          std::string("sub/VersionInfo.ini"), std::string("logs/patch.txt"), std::string("notes.qrtmp.txt"),
          std::string("qrpart"), std::string("a b (1)~x.dat"), std::string(".hidden/x.txt"),
          std::string("deep/a/b/c/d/e.bin"), std::string("bin/tool.zip"), longest}) {
        ASSERT_TRUE(PublisherAccepts(name)) << name << ": " << PublishRefusal(name);
        EXPECT_TRUE(WorkerAccepts(name)) << name;
        EXPECT_TRUE(ExtractionAccepts(name)) << name;
        EXPECT_TRUE(RepairAccepts(name)) << name;
    }
}

TEST(ReleaseNames, TheLaunchersOwnNamesAreRefusedByAllFour) {
    for (const std::string& name :
         {std::string("VersionInfo.ini"), std::string("versioninfo.INI"), std::string("PATCHINFO.INI"),
          std::string("patch.txt"), std::string("Patch.TXT"), std::string("a.qrtmp"), std::string("a.QRTMP"),
          std::string("data/b.qrpart"), std::string("x.QrPart"), std::string("dir.qrtmp/inner.dat"),
          std::string("dir.QRPART/inner.dat"), std::string("VersionInfo.ini."), std::string("a.qrtmp "),
          std::string("data/b.qrpart.."), std::string("data/c.QrNew"), std::string("a.qrdelta"),
          std::string("qrdelta/x.QRZST"), std::string("dir.qrzst/inner.dat")}) {
        EXPECT_TRUE(IsLauncherFile(name) || HasLauncherSuffix(name)) << name;
        EXPECT_FALSE(PublisherAccepts(name)) << name;
        EXPECT_FALSE(WorkerAccepts(name)) << name;
        EXPECT_FALSE(ExtractionAccepts(name)) << name;
        EXPECT_FALSE(RepairAccepts(name)) << name;
    }
}

// Items written as tools write them mean one name to the patch run and to verify and repair.
TEST(ReleaseNames, WrittenFormsMeanTheSameNameToTheRunAndTheRepair) {
    for (const char* written : {"./data/a.dat", "data//a.dat", "data/./a.dat"}) {
        const std::string description = std::string("[VERSION]\r\nversion=101\r\n[101]\r\n0=") + written + "\r\n";
        const DescriptionText text = DescriptionText::Parse(description);
        EXPECT_EQ(BuildDownloadList("100", "101", std::cref(text)).names, std::vector<std::string>{"data/a.dat"});
        const ReleaseManifest manifest = BuildReleaseManifest(description);
        EXPECT_TRUE(manifest.refused.empty()) << written;
        ASSERT_EQ(manifest.files.size(), 1u) << written;
        EXPECT_EQ(manifest.files[0].name, "data/a.dat");
    }
    for (const char* directory : {"./", "data/", "."}) {
        const ReleaseManifest manifest =
            BuildReleaseManifest(std::string("[VERSION]\r\nversion=101\r\n[101]\r\n0=") + directory + "\r\n");
        EXPECT_EQ(manifest.refused, std::vector<std::string>{directory});
    }
}

// The suffixes are refused by the publisher with the reason, not left out like the three files.
TEST(ReleaseNames, PublisherNamesTheTemporarySuffixes) {
    EXPECT_NE(PublishRefusal("big.bin.qrpart").find("temporary files"), std::string::npos);
    EXPECT_NE(PublishRefusal("a.qrtmp").find("temporary files"), std::string::npos);
    EXPECT_TRUE(PublishRefusal("VersionInfo.ini").empty());
    EXPECT_TRUE(IsLauncherFile("VersionInfo.ini"));
    EXPECT_FALSE(IsLauncherFile("sub/VersionInfo.ini"));
}

}  // namespace
}  // namespace qr
