// Signature checks on the platform (libcrypto natively, CNG under wine64) against a signature that
// `openssl dgst -sha256 -sign tools/demo-keys/demo-release-key.pem` made.
#include <gtest/gtest.h>

#include "platform/SignatureVerify.h"
#include "release/ReleaseAcceptance.h"

namespace qr {
namespace {

constexpr char kDemoKeyPem[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEN/U84QJGXlFiEBs5B/t6ZY+1nHPK\n"
    "LOp8XYu+btNBzSNeABFqE5hacRqT7r4MnAjJvSh1o2pxdxPpMHmXwruWqg==\n"
    "-----END PUBLIC KEY-----\n";
constexpr char kOtherKeyPem[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEmSN71/Q1t3LP9m8jzGWBhiGdWxcy\n"
    "prN/+aavho59rCFWILSfxuaBz74Fhf2SbAN+osBXYwoCnOk00srG5zcDUA==\n"
    "-----END PUBLIC KEY-----\n";
constexpr char kMessage[] = "QuorvelRPG signed release test\n";
constexpr char kSignatureHex[] =
    "3046022100ee525b2ac72f811b93206682f5b4bd67b6b18f2851e161f34e956b161bc197ed022100c2710562ae363cac4a0321"
    "54d75e8241c4d8bef327d0086ff6cb5b72e2641493";

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

TEST(SignatureVerify, AcceptsTheOpensslSignatureAndNothingElse) {
    const std::string signature = FromHex(kSignatureHex);
    EXPECT_TRUE(DescriptionSignatureValid(kMessage, signature, kDemoKeyPem));

    std::string flippedMessage = kMessage;
    flippedMessage[3] ^= 0x01;
    EXPECT_FALSE(DescriptionSignatureValid(flippedMessage, signature, kDemoKeyPem));
    EXPECT_FALSE(DescriptionSignatureValid(std::string(kMessage) + "\n", signature, kDemoKeyPem));
    EXPECT_FALSE(DescriptionSignatureValid(kMessage, signature, kOtherKeyPem));
    EXPECT_FALSE(DescriptionSignatureValid(kMessage, "", kDemoKeyPem));
    EXPECT_FALSE(DescriptionSignatureValid(kMessage, signature, ""));
    for (size_t at : {size_t{10}, size_t{40}, signature.size() - 1}) {
        std::string flipped = signature;
        flipped[at] ^= 0x01;
        EXPECT_FALSE(DescriptionSignatureValid(kMessage, flipped, kDemoKeyPem)) << at;
    }
}

TEST(SignatureVerify, OnlyUncompressedP256PublicKeysAreKeys) {
    const auto key = ParseP256PublicKeyPem(kDemoKeyPem);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->xy[0], 0x37);  // the first byte of X, after the fixed prefix and 0x04
    const std::string p384 =
        "-----BEGIN PUBLIC KEY-----\n"
        "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAETDa0bLmCgez/tFGjrbg6c+zCLXnRYsqN\n"
        "q4JzB9Xq07Em159/MmessIB7QVotb910mCn4qjHYvRC/B4e2uQq0DF95nwi3RLkQ\n"
        "9bxOw/yjjxyAv94HVfOWLaVggAV+bnnk\n"
        "-----END PUBLIC KEY-----\n";
    const std::string compressed =
        "-----BEGIN PUBLIC KEY-----\n"
        "MDkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDIgADyVPpiRwMuKqPtHj2M7EXUfmLmOZb\n"
        "yTnhX947e0vsiCw=\n"
        "-----END PUBLIC KEY-----\n";
    std::string badChar = kDemoKeyPem;
    badChar[40] = '*';
    std::string lostPadding = kDemoKeyPem;
    lostPadding.erase(lostPadding.find("=="), 2);
    std::string twice = std::string(kDemoKeyPem) + kDemoKeyPem;
    for (const std::string& bad : {p384, compressed, badChar, lostPadding, twice, std::string("nonsense"),
                                   std::string(kDemoKeyPem).substr(0, 60)}) {
        EXPECT_FALSE(ParseP256PublicKeyPem(bad)) << bad;
    }
}

}  // namespace
}  // namespace qr
