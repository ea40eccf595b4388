// One name brought by a delta from the player's copy, over the real patch server and real files:
// what is left for the caller to commit, and what is left behind when the delta does not work out.
#include "patch/DeltaItem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "archive/DeltaEncoder.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/Digests.h"
#include "tests/support/PatchServer.h"
#include "tests/support/TempDir.h"
#include "tools/publish/Publisher.h"

namespace qr {
namespace {

using test::DigestOf;
using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

// A game file across three versions: each an edit of the one before.
std::string Version(int n) {
    std::string bytes = test::TextBytes(300 << 10, 7);
    for (int i = 1; i <= n; ++i) {
        bytes.insert(bytes.size() / (i + 1), test::RandomBytes(900, 10 + i));
        bytes.replace(bytes.size() / 3, 500, test::TextBytes(500, 20 + i));
    }
    return bytes;
}

class DeltaItemTest : public ::testing::Test {
protected:
    // Serves the delta from version `from` to the newest and describes it.
    void Offer(int from, const std::string& deltaBytesOverride = std::string()) {
        const std::string old = Version(from);
        std::string delta = deltaBytesOverride.empty() ? MakeDeltaBytes(old, newest) : deltaBytesOverride;
        DescribedDelta d;
        d.source = DigestOf(old);
        d.served = DigestOf(delta);
        d.servedName = DeltaServedName(d.source.sha256Hex, offer.newest.sha256Hex);
        server.Put("/patch/" + d.servedName, delta);
        offer.deltas.push_back(d);
    }
    std::string MakeDeltaBytes(const std::string& old, const std::string& fresh) {
        WriteFileBytes(dir.Join("o"), old);
        WriteFileBytes(dir.Join("n"), fresh);
        auto o = fs.OpenRead(dir.Join("o"));
        auto n = fs.OpenRead(dir.Join("n"));
        auto out = fs.Create(dir.Join("d"));
        EXPECT_TRUE(MakeDelta(*o, *n, *out).ok);
        out->Close();
        return ReadFileBytes(dir.Join("d"));
    }
    DeltaItemResult Bring(const std::string& base = "/patch") {
        DeltaItemRequest request;
        request.session = session.get();
        request.fs = &fs;
        request.name = "game.dat";
        request.patchBaseUrl = server.url(base);
        request.target = target;
        request.offer = &offer;
        request.onChunk = [this](long long received) { seen = received; };
        return BringByDelta(request);
    }
    // Nothing but the game file itself (and what a test names) is left in the directory.
    void ExpectOnly(std::vector<std::string> names) {
        names.push_back("game.dat");
        std::sort(names.begin(), names.end());
        std::vector<std::string> found;
        for (const std::string& f : test::ListFiles(install.path())) found.push_back(f);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, names);
    }
    size_t DeltaRequests() {
        size_t n = 0;
        for (const auto& r : server.Requests()) n += r.path.find(".qrdelta") != std::string::npos;
        return n;
    }

    test::PatchServer server;
    std::unique_ptr<HttpSession> session = OpenHttpSession(kHttpAgent);
    FileSystem& fs = SystemFileSystem();
    test::TempDir dir;
    test::TempDir install;
    std::string target = install.Join("game.dat");
    std::string newest = Version(3);
    NameDeltas offer{DigestOf(newest), {}, std::nullopt};
    long long seen = 0;
};

TEST_F(DeltaItemTest, PlayersOneOrTwoVersionsBehindGetTheNewestFromTheirCopy) {
    Offer(2);
    Offer(1);
    for (int from : {1, 2}) {
        WriteFileBytes(target, Version(from));
        const DeltaItemResult result = Bring();
        ASSERT_EQ(result.status, DeltaItemStatus::Ready) << result.reason;
        EXPECT_EQ(result.delta, &offer.deltas[from == 2 ? 0 : 1]);
        EXPECT_EQ(ReadFileBytes(target + ".qrtmp"), newest);
        EXPECT_EQ(ReadFileBytes(target), Version(from));  // the caller commits
        EXPECT_EQ(result.received, static_cast<long long>(result.delta->served.size));
        EXPECT_EQ(seen, result.received);
        EXPECT_LT(result.received, static_cast<long long>(newest.size() / 10));
        ExpectOnly({"game.dat.qrtmp"});
    }
}

TEST_F(DeltaItemTest, AModifiedMissingOrNewestFileTakesNoDelta) {
    Offer(2);
    EXPECT_EQ(Bring().status, DeltaItemStatus::NotApplicable);  // missing
    std::string modified = Version(2);
    modified[1000] ^= 1;
    WriteFileBytes(target, modified);
    EXPECT_EQ(Bring().status, DeltaItemStatus::NotApplicable);
    WriteFileBytes(target, newest);
    EXPECT_EQ(Bring().status, DeltaItemStatus::NotApplicable);
    EXPECT_EQ(DeltaRequests(), 0u);
    ExpectOnly({});
}

TEST_F(DeltaItemTest, ABadDeltaFailsWithItsReasonAndLeavesNothing) {
    // Described as served, but damaged inside; a delta that rebuilds another file; one not served.
    std::string corrupt = MakeDeltaBytes(Version(2), newest);
    corrupt[corrupt.size() / 2] ^= 0x55;
    Offer(2, corrupt);
    WriteFileBytes(target, Version(2));
    DeltaItemResult result = Bring();
    EXPECT_EQ(result.status, DeltaItemStatus::Failed);
    EXPECT_NE(result.reason.find("could not be applied"), std::string::npos) << result.reason;
    ExpectOnly({});

    offer.deltas.clear();
    Offer(2, MakeDeltaBytes(Version(2), Version(3) + "x"));
    result = Bring();
    EXPECT_EQ(result.status, DeltaItemStatus::Failed);
    EXPECT_NE(result.reason.find("could not be applied"), std::string::npos) << result.reason;  // too long
    offer.deltas.clear();
    std::string other = newest;
    other[5] ^= 1;
    Offer(2, MakeDeltaBytes(Version(2), other));
    result = Bring();
    EXPECT_EQ(result.status, DeltaItemStatus::Failed);
    EXPECT_NE(result.reason.find("not the described one"), std::string::npos) << result.reason;
    ExpectOnly({});

    server.SetFault("/patch/" + offer.deltas[0].servedName, R"({"mode": "status", "status": 404})");
    result = Bring();
    EXPECT_EQ(result.status, DeltaItemStatus::Failed);
    EXPECT_NE(result.reason.find("404"), std::string::npos) << result.reason;
    EXPECT_NE(result.reason.find(offer.deltas[0].servedName), std::string::npos) << result.reason;
    EXPECT_EQ(ReadFileBytes(target), Version(2));
    ExpectOnly({});
}

TEST_F(DeltaItemTest, ABrokenDeltaDownloadResumesInTheNextRun) {
    Offer(1);
    WriteFileBytes(target, Version(1));
    const long long half = static_cast<long long>(offer.deltas[0].served.size / 2);
    server.SetFault("/patch/" + offer.deltas[0].servedName, R"({"mode": "drop", "after": )" + std::to_string(half) + "}");
    DeltaItemResult result = Bring();
    ASSERT_EQ(result.status, DeltaItemStatus::Failed);
    EXPECT_FALSE(FileExists(target + ".qrtmp"));
    EXPECT_TRUE(FileExists(DeltaDownloadPath(target) + ".qrtmp"));  // the partial, with its record
    server.ClearFaults();
    result = Bring();
    ASSERT_EQ(result.status, DeltaItemStatus::Ready) << result.reason;
    EXPECT_EQ(result.received, static_cast<long long>(offer.deltas[0].served.size) - half);
    EXPECT_EQ(ReadFileBytes(target + ".qrtmp"), newest);
    ExpectOnly({"game.dat.qrtmp"});

    // Brought whole instead: the kept delta download goes.
    server.SetFault("/patch/" + offer.deltas[0].servedName, R"({"mode": "drop", "after": )" + std::to_string(half) + "}");
    fs.Remove(target + ".qrtmp");
    ASSERT_EQ(Bring().status, DeltaItemStatus::Failed);
    DiscardDeltaDownload(fs, target);
    ExpectOnly({});
}

// What quorvel-publish writes is what a launcher takes: players on every earlier version find a delta
// from their copy in the description and rebuild the newest file with it.
TEST_F(DeltaItemTest, DeltasOfAPublishedReleaseRebuildTheNewestForEveryEarlierVersion) {
    for (int v = 1; v <= 3; ++v) {
        WriteFileBytes(dir.Join("tree" + std::to_string(v) + "/game.dat"), Version(v));
        publish::PublishOptions options;
        options.releaseDir = server.root();
        options.treeDir = dir.Join("tree" + std::to_string(v));
        options.version = 100 + v;
        options.baseUrl = server.url("");
        std::ostringstream out, err;
        ASSERT_EQ(publish::Publish(options, fs, out, err), 0) << err.str();
    }
    const auto catalog = ReadDeltaCatalog(ReadFileBytes(server.root() + "/tzan/PatchInfo.ini"));
    ASSERT_EQ(catalog.count("game.dat"), 1u);
    offer = catalog.at("game.dat");
    EXPECT_EQ(offer.deltas.size(), 2u);
    for (int from : {1, 2}) {
        WriteFileBytes(target, Version(from));
        const DeltaItemResult result = Bring("/tzan/patch");
        ASSERT_EQ(result.status, DeltaItemStatus::Ready) << result.reason;
        EXPECT_EQ(result.delta->source.sha256Hex, DigestOf(Version(from)).sha256Hex);
        EXPECT_EQ(ReadFileBytes(target + ".qrtmp"), Version(3));
    }
}

}  // namespace
}  // namespace qr
