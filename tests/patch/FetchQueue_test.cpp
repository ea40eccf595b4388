// The files an archive lands, brought one by one in its place over the real patch server and real
// files, while other items of the same run are fetched beside them: the list's order still decides
// what each file ends as.
#include "patch/FetchQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "archive/DeltaEncoder.h"
#include "release/DeltaDescription.h"
#include "release/ReleaseNames.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/Digests.h"
#include "tests/support/PatchServer.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

using test::DigestOf;
using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

class ArchiveFilesAloneTest : public ::testing::Test, protected test::WorkerRig {
protected:
    using WorkerRig::Run;

    ArchiveFilesAloneTest() {
        WritePatchList(server.url("/tzan/PatchInfo.ini"), server.url("/files"));
        openSession = OpenHttpSession;
        connections = 2;
    }

    // Serves `bytes` compressed whole; returns the description line that offers it.
    NameDeltas OfferCompressed(const std::string& bytes) {
        WriteFileBytes(dir.Join("plain.tmp"), bytes);
        {
            auto in = SystemFileSystem().OpenRead(dir.Join("plain.tmp"));
            auto out = SystemFileSystem().Create(dir.Join("packed.tmp"));
            EXPECT_TRUE(CompressFile(*in, *out).ok);
            out->Close();
        }
        const std::string packed = ReadFileBytes(dir.Join("packed.tmp"));
        SystemFileSystem().Remove(dir.Join("plain.tmp"));
        SystemFileSystem().Remove(dir.Join("packed.tmp"));
        NameDeltas offer;
        offer.newest = DigestOf(bytes);
        offer.whole = CompressedWhole{DigestOf(packed), CompressedServedName(offer.newest.sha256Hex)};
        server.Put("/files/" + offer.whole->servedName, packed);
        return offer;
    }

    // Serves an archive of `entries` as version `version`'s last item, its contents described; the
    // archive also holds `unlisted`, which its contents lines do not name.
    void Archive(DescriptionText& ini, int version, const std::map<std::string, std::string>& entries,
                 const std::map<std::string, std::string>& unlisted = {}) {
        test::ZipBuilder zip;
        std::map<std::string, FileDigest> content;
        std::vector<std::string> names;
        for (const auto& [name, bytes] : entries) {
            zip.Add(name, bytes);
            content[name] = DigestOf(bytes);
            names.push_back(name);
        }
        for (const auto& [name, bytes] : unlisted) zip.Add(name, bytes);
        const std::string archive = "patch" + std::to_string(version) + ".zip";
        const std::string bytes = zip.Build();
        server.Put("/files/" + archive, bytes);
        WriteNewVersion(ini, NewVersion{VersionSectionName(version), {}, archive, DigestOf(bytes), names, &content});
    }

    // patch101.zip (slow to come) unpacks an older a.dat; patch102.zip lands the newest a.dat, which the
    // install already holds, and b.dat, which can come alone. Runs the worker over two connections.
    void RunOverAnOlderArchive(bool a101Listed) {
        DescriptionText ini;
        const std::map<std::string, std::string> olderA = {{"data/a.dat", test::TextBytes(3000, 3)}};
        std::map<std::string, std::string> listed = {{"data/c.dat", "only in 101"}};
        if (a101Listed) listed.insert(olderA.begin(), olderA.end());
        Archive(ini, 101, listed, a101Listed ? std::map<std::string, std::string>{} : olderA);
        Archive(ini, 102, {{"data/a.dat", newA}, {"data/b.dat", newB}});
        WriteDeltaCatalog(ini, VersionSectionName(102), {{"data/b.dat", OfferCompressed(newB)}});
        server.Put("/tzan/PatchInfo.ini", ini.Format());
        Installed("100");
        WriteFileBytes(dir.Join("data/a.dat"), newA);
        server.SetFault("/files/patch101.zip", R"({"mode": "slow", "delay": 0.05, "chunk": 256})");
        state->workerRunning = true;
        std::thread worker([this] { PatchWorker(Context()); });
        // Without a listed a.dat, b.dat is asked for while patch101.zip still comes: then it may go on.
        for (int i = 0; i < 6000 && !a101Listed && !Asked(packedB); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!a101Listed) server.ClearFaults();
        worker.join();
        server.ClearFaults();
    }

    void ExpectNewest() {
        EXPECT_TRUE(Asked("/files/patch102.zip"));
        EXPECT_EQ(ReadFileBytes(dir.Join("data/a.dat")), newA);
        EXPECT_EQ(ReadFileBytes(dir.Join("data/b.dat")), newB);
        EXPECT_EQ(ReadFileBytes(dir.Join("data/c.dat")), "only in 101");
        EXPECT_TRUE(LeftoverTempFiles().empty());
        EXPECT_EQ(RecordedVersion(), "102");
    }

    bool Asked(const std::string& path) {
        for (const auto& r : server.Requests())
            if (r.path == path) return true;
        return false;
    }

    test::PatchServer server;
    const std::string newA = test::TextBytes(3000, 1), newB = test::TextBytes(5000, 2);
    const std::string packedB = "/files/" + CompressedServedName(DigestOf(newB).sha256Hex);
};

// An archive that unpacks a file of a later one (even one a later item brings again) is unpacked
// before the later one is looked at: no file is read for a delta or checked while it is replaced,
// and what the later archive finds is what the earlier one left.
TEST_F(ArchiveFilesAloneTest, AnArchiveWaitsForAnEarlierArchiveThatUnpacksItsFiles) {
    RunOverAnOlderArchive(true);
    EXPECT_FALSE(Asked(packedB));  // a.dat was no longer right, and only the archive brings it
    ExpectNewest();
}

// A description that does not list everything an archive holds: patch102.zip brings b.dat alone
// while patch101.zip comes, then patch101.zip overwrites a.dat, so patch102.zip itself must come.
TEST_F(ArchiveFilesAloneTest, AFileAnUnlistedEntryWroteOverBringsTheArchiveAfterAll) {
    RunOverAnOlderArchive(false);
    EXPECT_TRUE(Asked(packedB));
    ExpectNewest();
}

// Every file an archive lands is already right or comes alone: the archive is never asked for, and
// an archive whose every file a later one brings is not asked for either.
TEST_F(ArchiveFilesAloneTest, AnArchiveWhoseFilesAllComeAloneIsNeverFetched) {
    DescriptionText ini;
    Archive(ini, 101, {{"data/a.dat", "first a"}});
    Archive(ini, 102, {{"data/a.dat", newA}, {"data/b.dat", newB}});
    WriteDeltaCatalog(ini, VersionSectionName(102),
                      {{"data/a.dat", OfferCompressed(newA)}, {"data/b.dat", OfferCompressed(newB)}});
    server.Put("/tzan/PatchInfo.ini", ini.Format());
    Installed("100");
    WriteFileBytes(dir.Join("data/b.dat"), newB);
    Run();

    EXPECT_FALSE(Asked("/files/patch101.zip"));
    EXPECT_FALSE(Asked("/files/patch102.zip"));
    EXPECT_FALSE(Asked("/files/" + CompressedServedName(DigestOf(newB).sha256Hex)));
    EXPECT_EQ(ReadFileBytes(dir.Join("data/a.dat")), newA);
    EXPECT_EQ(ReadFileBytes(dir.Join("data/b.dat")), newB);
    EXPECT_TRUE(LeftoverTempFiles().empty());
    EXPECT_EQ(RecordedVersion(), "102");
    // The window counts the archive as any item, with the bytes of what came in its place.
    EXPECT_EQ(state->archiveIndex, 2);
    EXPECT_EQ(state->archiveCount, 2);
    EXPECT_TRUE(state->readyToStart);
}

}  // namespace
}  // namespace qr
