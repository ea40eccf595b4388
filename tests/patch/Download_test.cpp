#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "patch/Download.h"
#include "platform/Sha256.h"
#include "tests/support/FakeHttp.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class DigestCheckedDownload : public ::testing::Test {
protected:
    DownloadResult Fetch(const std::string& body, const FileDigest* expected) {
        http_.resources["http://h/f"] = test::FakeResource(200, body);
        auto session = http_.Factory()("QR");
        auto response = session->Open("http://h/f");
        return DownloadToFile(*response, SystemFileSystem(), target_, static_cast<long long>(body.size()), nullptr,
                              nullptr, expected);
    }

    test::TempDir dir_;
    std::string target_ = dir_.Join("game.dat");
    test::FakeHttp http_;
};

TEST_F(DigestCheckedDownload, OnlyTheDescribedBytesReplaceTheTarget) {
    const std::string good(10000, 'g');
    const FileDigest digest{DigestHex(Sha256Of(good)), good.size()};

    WriteAll(target_, "old");
    for (const std::string& wrong : {std::string(10000, 'x'), std::string(9999, 'g'), std::string(10001, 'g')}) {
        EXPECT_EQ(Fetch(wrong, &digest).status, DownloadStatus::Mismatch) << wrong.size();
        EXPECT_EQ(ReadAll(target_), "old");
        EXPECT_FALSE(std::ifstream(target_ + kTempSuffix).good());
    }
    EXPECT_EQ(Fetch(good, &digest).status, DownloadStatus::Complete);
    EXPECT_EQ(ReadAll(target_), good);
    // Without a digest every whole body is taken, as before releases were described.
    EXPECT_EQ(Fetch("anything", nullptr).status, DownloadStatus::Complete);
    EXPECT_EQ(ReadAll(target_), "anything");
}

}  // namespace
}  // namespace qr
