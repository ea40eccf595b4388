// The patch procedure with a release key: signed descriptions, digest lines, no step-down, expiry.
// Native only (the signatures are made with libcrypto); the Windows side is driven end to end by the
// command-line tests.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "patch/InstallVerify.h"
#include "platform/ForwardingFileSystem.h"
#include "release/ReleaseDescription.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/DemoSigner.h"
#include "tests/support/Digests.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr char kSigUrl[] = "http://srv/tzan/PatchInfo.ini.sig";
constexpr char kInfoFailed[] = "message 패치 정보를 받는데 실패했습니다. 다시 실행 하시기 바랍니다.";

using test::DigestLineOf;

class SignedReleaseTest : public ::testing::Test, protected test::WorkerRig {
protected:
    void SetUp() override {
        WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=101\r\n");
        WriteFileBytes(dir.Join("game.bin"), "old game");
        LoadInstalledVersion(*state, *settings);
    }

    // Version 102 brings game.bin and a map (served as .bap); the description is signed.
    std::string Release(const std::string& versionLines = "version=102\r\nexpires=2999-12-31\r\n") {
        const std::string game = "new game bytes", map = "new map";
        Serve("game.bin", game);
        Serve("maps/one.bap", map);
        return "[VERSION]\r\n" + versionLines + "[102]\r\n0=game.bin\r\n1=maps/one.map\r\n[102.sha256]\r\n0=" +
               DigestLineOf(game) + "\r\n1=" + DigestLineOf(map) + "\r\n";
    }
    void Publish(const std::string& description, const std::string& signedBytes) {
        http.resources[kInfoUrl] = {200, description};
        http.resources[kSigUrl] = {200, test::SignWithDemoKey(signedBytes)};
    }
    void Publish(const std::string& description) { Publish(description, description); }
    void Run(bool withKey = true) {
        releaseKeyPem = withKey ? test::DemoPublicKeyPem() : std::string();
        WorkerRig::Run();
    }
    // Path B: the patch-info failure, nothing fetched past the description and its signature.
    void ExpectRefusedDescription(const std::string& what) {
        EXPECT_TRUE(log->Has(kInfoFailed)) << what;
        EXPECT_EQ(state->statusText.Get(), "다시 실행 하시기 바랍니다.") << what;
        EXPECT_FALSE(log->Has("finished ok")) << what;
        for (const std::string& request : http.requests)
            EXPECT_TRUE(request == kInfoUrl || request == kSigUrl) << what << ": fetched " << request;
        EXPECT_FALSE(FileExists(dir.Join("PatchInfo.ini"))) << what;
        ExpectNothingChanged(what);
    }
    void ExpectNothingChanged(const std::string& what) {
        EXPECT_EQ(RecordedVersion(), "101") << what;
        EXPECT_EQ(ReadFileBytes(dir.Join("game.bin")), "old game") << what;
        EXPECT_FALSE(FileExists(dir.Join("maps/one.map"))) << what;
        EXPECT_FALSE(state->readyToStart) << what;
    }
    void Reset() {
        Fresh();
        http.resources.clear();
        http.requests.clear();
    }
};

// A local program rewrites PatchInfo.ini on the disk right after the launcher read it for the
// signature check: the run goes on with the checked bytes, not with what the file holds later.
class SwapAfterRead : public ForwardingFileSystem {
public:
    SwapAfterRead(std::string path, std::string replacement)
        : ForwardingFileSystem(SystemFileSystem()), path_(std::move(path)), replacement_(std::move(replacement)) {}
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        auto file = inner().OpenRead(path);
        if (path == path_ && file && !swapped_) {
            std::string bytes(static_cast<size_t>(file->Size()), '\0');
            file->ReadAt(0, &bytes[0], bytes.size());
            swapped_ = true;
            WriteFileBytes(path_, replacement_);
            return std::make_unique<Bytes>(std::move(bytes));
        }
        return file;
    }

private:
    struct Bytes : ReadableFile {
        explicit Bytes(std::string b) : bytes(std::move(b)) {}
        uint64_t Size() const override { return bytes.size(); }
        size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
            if (offset >= bytes.size()) return 0;
            const size_t n = std::min(length, bytes.size() - static_cast<size_t>(offset));
            std::copy_n(bytes.data() + offset, n, static_cast<char*>(buffer));
            return n;
        }
        std::string bytes;
    };
    std::string path_, replacement_;
    bool swapped_ = false;
};

TEST_F(SignedReleaseTest, TheCheckedDescriptionBytesAreWhatTheRunUses) {
    Publish(Release());
    const std::string evil = "evil program";
    Serve("evil.bin", evil);
    SwapAfterRead swapping(dir.Join("PatchInfo.ini"), "[VERSION]\r\nversion=102\r\nexpires=2999-12-31\r\n[102]\r\n"
                                                      "0=evil.bin\r\n[102.sha256]\r\n0=" + DigestLineOf(evil) + "\r\n");
    fileSystem = &swapping;
    Run();
    EXPECT_TRUE(log->Has("finished ok"));
    EXPECT_FALSE(FileExists(dir.Join("evil.bin")));
    EXPECT_EQ(ReadFileBytes(dir.Join("game.bin")), "new game bytes");
    EXPECT_EQ(ReadFileBytes(dir.Join("maps/one.map")), "new map");
    fileSystem = &SystemFileSystem();
}

// The window starts QuorvelRPG.bin only as the verified release describes it: a program planted in
// its place (or an install directory pointed elsewhere) does not match, a release without a line for
// it and a run without a key hold nothing against it.
TEST_F(SignedReleaseTest, TheGameProgramIsHeldToTheVerifiedDigest) {
    const std::string program = "the released game program";
    Serve("QuorvelRPG.bin", program);
    const std::string release = "[VERSION]\r\nversion=102\r\nexpires=2999-12-31\r\n[102]\r\n0=QuorvelRPG.bin\r\n"
                                "[102.sha256]\r\n0=" + DigestLineOf(program) + "\r\n";
    Publish(release);
    Run();
    EXPECT_TRUE(log->Has("finished ok"));
    const std::string line = state->verifiedGameDigest.Get();
    EXPECT_EQ(line, DigestLineOf(program));
    const std::string game = dir.Join("QuorvelRPG.bin");
    EXPECT_TRUE(GameMatchesDigest(SystemFileSystem(), game, line));
    WriteFileBytes(game, "a program of someone else");
    EXPECT_FALSE(GameMatchesDigest(SystemFileSystem(), game, line));
    std::remove(game.c_str());
    EXPECT_FALSE(GameMatchesDigest(SystemFileSystem(), game, line));
    EXPECT_FALSE(GameMatchesDigest(SystemFileSystem(), game, "not a digest line"));

    // Up to date, a release without a line for the program: nothing to hold it to.
    Reset();
    Publish(Release());
    Run();
    EXPECT_EQ(state->verifiedGameDigest.Get(), "");
    EXPECT_TRUE(GameMatchesDigest(SystemFileSystem(), game, ""));
    Reset();
    Publish(release);
    Run(false);
    EXPECT_EQ(state->verifiedGameDigest.Get(), "");
}

TEST_F(SignedReleaseTest, SignedReleasePatchesAndRecordsTheVersion) {
    Publish(Release("version=102\r\nexpires=2999-12-31\r\n"));
    Run();
    EXPECT_TRUE(log->Has("finished ok"));
    EXPECT_EQ(ReadFileBytes(dir.Join("game.bin")), "new game bytes");
    EXPECT_EQ(ReadFileBytes(dir.Join("maps/one.map")), "new map");
    EXPECT_EQ(RecordedVersion(), "102");
    EXPECT_FALSE(FileExists(dir.Join("PatchInfo.ini")));
}

TEST_F(SignedReleaseTest, DescriptionsThatDoNotVerifyTakeTheRunAgainPathAndAreNotKept) {
    const std::string good = Release();
    for (int variant = 0; variant < 6; ++variant) {
        Reset();
        // A description left from an earlier run must not survive a refused one.
        WriteFileBytes(dir.Join("PatchInfo.ini"), "[VERSION]\r\nversion=100\r\n");
        Release();
        std::string flipped = good;
        flipped[good.find("0=game.bin") + 2] ^= 0x01;
        switch (variant) {
            case 0: Publish(flipped, good); break;  // one byte of the description changed
            case 1: Publish(good); http.resources.erase(kSigUrl); break;  // signature unreachable
            case 2: Publish(good); http.resources[kSigUrl] = {404, "<html>not found</html>"}; break;
            case 3: Publish(good, good + " "); break;  // signature of other bytes
            case 4: Publish(good); http.resources[kSigUrl].body.back() ^= 0x01; break;
            case 5: Publish(good); http.resources[kSigUrl] = {200, std::string(4096, '0')}; break;
        }
        Run();
        ExpectRefusedDescription("variant " + std::to_string(variant));
    }
}

TEST_F(SignedReleaseTest, LowerOrExpiredSignedVersionsAreRefusedAndEqualTextIsUpToDate) {
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"lower", "version=100\r\nexpires=2999-12-31\r\n"},
        {"undated", "version=102\r\n"},
        {"expired", "version=102\r\nexpires=2000-01-01\r\n"},
        {"malformed expiry", "version=102\r\nexpires=someday\r\n"},
        {"same but expired", "version=101\r\nexpires=2000-01-01\r\n"},
    };
    for (const auto& [what, lines] : refused) {
        Reset();
        Publish(Release(lines));
        Run();
        ExpectRefusedDescription(what);
    }
    Reset();
    Publish(Release("version=101\r\nexpires=2999-12-31\r\n"));
    Run();
    EXPECT_TRUE(log->Has("finished ok"));
    EXPECT_EQ(http.requests, (std::vector<std::string>{kInfoUrl, kSigUrl}));
    EXPECT_EQ(RecordedVersion(), "101");
}

TEST_F(SignedReleaseTest, ItemsMustMatchTheirDigestLines) {
    const std::vector<std::string> cases = {"game.bin differs", "game.bin longer", "map line missing",
                                            "map line malformed"};
    for (const std::string& what : cases) {
        Reset();
        std::remove(dir.Join("maps/one.map").c_str());
        WriteFileBytes(dir.Join("game.bin"), "old game");
        std::string text = Release();
        if (what == "game.bin differs") Serve("game.bin", "NEW game bytes");
        if (what == "game.bin longer") Serve("game.bin", "new game bytes!");
        if (what == "map line missing") text.erase(text.find("1=", text.find(".sha256")));
        if (what == "map line malformed") text.replace(text.rfind(' '), 1, "  ");
        Publish(text);
        Run();
        EXPECT_TRUE(log->Has("finished failed")) << what;
        EXPECT_EQ(RecordedVersion(), "101") << what;
        const bool gameBad = what.rfind("game.bin", 0) == 0;
        EXPECT_EQ(ReadFileBytes(dir.Join("game.bin")), gameBad ? "old game" : "new game bytes") << what;
        // A refused line is decided before anything is fetched; a failed item ends the run.
        EXPECT_FALSE(FileExists(dir.Join("maps/one.map"))) << what;
        if (!gameBad) {
            // An item without a usable line is never fetched.
            for (const std::string& request : http.requests) EXPECT_EQ(request.find("one.bap"), std::string::npos) << what;
        }
        for (const auto& f : test::ListFiles(dir.path())) EXPECT_EQ(f.find(".qrtmp"), std::string::npos) << f;
    }
}

TEST_F(SignedReleaseTest, WithoutAKeyUnsignedReleasesWorkAndPresentLinesStillHold) {
    // An old-style server: no signature, no digest lines.
    http.resources[kInfoUrl] = {200, "[VERSION]\r\nversion=102\r\n[102]\r\n0=game.bin\r\n"};
    Serve("game.bin", "unsigned game");
    Run(false);
    EXPECT_TRUE(log->Has("finished ok"));
    EXPECT_EQ(ReadFileBytes(dir.Join("game.bin")), "unsigned game");
    EXPECT_EQ(RecordedVersion(), "102");
    EXPECT_EQ(http.requests.size(), 2u) << "no signature is asked for";

    WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=101\r\n");
    WriteFileBytes(dir.Join("game.bin"), "old game");
    Reset();
    const std::string text = Release();
    http.resources[kInfoUrl] = {200, text};
    Serve("game.bin", "corrupted on the way");
    Run(false);
    EXPECT_TRUE(log->Has("finished failed"));
    EXPECT_EQ(ReadFileBytes(dir.Join("game.bin")), "old game");
    EXPECT_FALSE(FileExists(dir.Join("maps/one.map")));  // nothing after the failed item
    EXPECT_EQ(RecordedVersion(), "101");
}

TEST_F(SignedReleaseTest, SignedArchivesAreHeldToTheirDigestBeforeUnpacking) {
    test::ZipBuilder zip;
    zip.Add("data/inside.txt", "from the archive");
    const std::string archive = zip.Build();
    Serve("patch102.zip", archive);
    std::string text = "[VERSION]\r\nversion=102\r\nexpires=2999-12-31\r\n[102]\r\n0=patch102.zip\r\n[102.sha256]\r\n0=" +
                       DigestLineOf(archive) + "\r\n";
    Publish(text);
    Run();
    EXPECT_TRUE(log->Has("finished ok"));
    EXPECT_EQ(ReadFileBytes(dir.Join("data/inside.txt")), "from the archive");

    Reset();
    WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=101\r\n");
    LoadInstalledVersion(*state, *settings);
    WriteFileBytes(dir.Join("data/inside.txt"), "old");
    std::string tampered = archive;
    tampered[tampered.size() / 2] ^= 0x01;
    Serve("patch102.zip", tampered);
    Publish(text);
    Run();
    EXPECT_TRUE(log->Has("finished failed"));
    EXPECT_EQ(ReadFileBytes(dir.Join("data/inside.txt")), "old");
    EXPECT_FALSE(FileExists(dir.Join("patch102.zip")));
    EXPECT_EQ(RecordedVersion(), "101");
}

}  // namespace
}  // namespace qr
#endif
