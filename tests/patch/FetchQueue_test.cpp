// The files an archive lands, brought one by one in its place over the real patch server and real
// files, while other items of the same run are fetched beside them: the list's order still decides
// what each file ends as.
#include "patch/FetchQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "archive/DeltaEncoder.h"
#include "platform/Sha256.h"
#include "release/DeltaDescription.h"
#include "release/ReleaseNames.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/PatchServer.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

FileDigest Of(const std::string& bytes) { return {DigestHex(Sha256Of(bytes)), bytes.size()}; }

class ArchiveFilesAloneTest : public ::testing::Test, protected test::WorkerRig {
protected:
    using WorkerRig::Run;

    ArchiveFilesAloneTest() {
        WritePatchList(server.url("/tzan/PatchInfo.ini"), server.url("/files"));
        openSession = OpenHttpSession;
        connections = 2;
    }

    // Serves `bytes` compressed whole as the description's line for `name` offers it.
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
        offer.newest = Of(bytes);
        offer.whole = CompressedWhole{Of(packed), CompressedServedName(offer.newest.sha256Hex)};
        server.Put("/files/" + offer.whole->servedName, packed);
        return offer;
    }

    // Serves an archive of `entries` as version `version`'s last item, its contents described.
    void Archive(DescriptionText& ini, int version, const std::map<std::string, std::string>& entries) {
        test::ZipBuilder zip;
        std::map<std::string, FileDigest> content;
        std::vector<std::string> names;
        for (const auto& [name, bytes] : entries) {
            zip.Add(name, bytes);
            content[name] = Of(bytes);
            names.push_back(name);
        }
        const std::string archive = "patch" + std::to_string(version) + ".zip";
        const std::string bytes = zip.Build();
        server.Put("/files/" + archive, bytes);
        WriteNewVersion(ini, NewVersion{VersionSectionName(version), {}, archive, Of(bytes), names, &content});
    }

    bool Asked(const std::string& path) {
        for (const auto& r : server.Requests())
            if (r.path == path) return true;
        return false;
    }

    test::PatchServer server;
};

// patch101.zip lands an older a.dat while patch102.zip, fetched beside it, finds a.dat already at its
// newest content and brings only b.dat alone. Once patch101.zip is unpacked a.dat is no longer right,
// so patch102.zip itself must come, and the run still ends with both files at their newest content.
TEST_F(ArchiveFilesAloneTest, AFileAnEarlierArchiveWroteOverBringsTheArchiveAfterAll) {
    const std::string newA = test::TextBytes(3000, 1), newB = test::TextBytes(5000, 2);
    DescriptionText ini;
    Archive(ini, 101, {{"data/a.dat", test::TextBytes(3000, 3)}, {"data/c.dat", "only in 101"}});
    Archive(ini, 102, {{"data/a.dat", newA}, {"data/b.dat", newB}});
    WriteDeltaCatalog(ini, VersionSectionName(102), {{"data/b.dat", OfferCompressed(newB)}});
    server.Put("/tzan/PatchInfo.ini", ini.Format());
    const std::string packedB = "/files/" + CompressedServedName(Of(newB).sha256Hex);
    Installed("100");
    WriteFileBytes(dir.Join("data/a.dat"), newA);
    // patch101.zip comes slowly until b.dat has been asked for, so b.dat is brought alone before
    // patch101.zip overwrites a.dat.
    server.SetFault("/files/patch101.zip", R"({"mode": "slow", "delay": 0.05, "chunk": 64})");
    state->workerRunning = true;
    std::thread worker([this] { PatchWorker(Context()); });
    for (int i = 0; i < 6000 && !Asked(packedB); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.ClearFaults();
    worker.join();

    EXPECT_TRUE(Asked(packedB));
    EXPECT_TRUE(Asked("/files/patch102.zip"));
    EXPECT_EQ(ReadFileBytes(dir.Join("data/a.dat")), newA);
    EXPECT_EQ(ReadFileBytes(dir.Join("data/b.dat")), newB);
    EXPECT_EQ(ReadFileBytes(dir.Join("data/c.dat")), "only in 101");
    EXPECT_TRUE(LeftoverTempFiles().empty());
    EXPECT_EQ(RecordedVersion(), "102");
}

// Every file an archive lands is already right or comes alone: the archive is never asked for, and
// an archive whose every file a later one brings is not asked for either.
TEST_F(ArchiveFilesAloneTest, AnArchiveWhoseFilesAllComeAloneIsNeverFetched) {
    const std::string newA = test::TextBytes(3000, 4), newB = test::TextBytes(5000, 5);
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
    EXPECT_FALSE(Asked("/files/" + CompressedServedName(Of(newB).sha256Hex)));
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
