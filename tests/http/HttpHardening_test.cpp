// What a hostile or broken server can try against a request: endless or oversized bodies, lengths
// that are no number, a byte now and then, a logon challenge, a step down from HTTPS. Each attack
// must end in a clear failure that the caller can tell apart, never in a full disk or a wait without end.
#include <gtest/gtest.h>

#include <string>

#include "patch/TransferLimits.h"
#include "platform/HttpClient.h"
#include "tests/support/Env.h"
#include "tests/support/HttpBodies.h"
#include "tests/support/PatchServer.h"

namespace qr {
namespace {

using test::Body;
using test::ReadAll;

// Text that compresses well, like a patch description.
std::string DescriptionText(size_t lines) {
    std::string text = "[VERSION]\r\nversion=105\r\n";
    for (size_t i = 0; i < lines; ++i)
        text += std::to_string(i % 1000) + "=data/map" + std::to_string(i) + ".map\r\n";
    return text;
}

class HttpHardening : public ::testing::Test {
protected:
    test::PatchServer server;
    std::unique_ptr<HttpSession> session = OpenHttpSession(kHttpAgent);

    std::unique_ptr<HttpResponse> Send(const std::string& path, const HttpRequestOptions& options) {
        if (!session) return nullptr;
        return session->Send(server.url(path), options);
    }
};
using http_hardening = HttpHardening;

TEST_F(http_hardening, SmallDocumentsComeCompressedAndDecodedWithLimitsOnTheDecodedSize) {
    const std::string text = DescriptionText(20000);
    server.Put("/tzan/PatchInfo.ini", text);
    server.SetFault("/tzan/PatchInfo.ini", R"({"mode": "gzip"})");

    std::unique_ptr<HttpResponse> compressed = Send("/tzan/PatchInfo.ini", SmallDocumentRequest(kMaxDescriptionBytes));
    ASSERT_TRUE(compressed);
    EXPECT_EQ(200, compressed->StatusCode());
    EXPECT_FALSE(compressed->ContentLengthText().has_value());  // the wire length is not the body's
    Body body = ReadAll(*compressed);
    EXPECT_EQ(ReadStatus::End, body.last);
    EXPECT_TRUE(body.bytes == text);

    // An item is taken as served, never asked for compressed.
    std::unique_ptr<HttpResponse> plain = session->Open(server.url("/tzan/PatchInfo.ini"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(std::to_string(text.size()), plain->ContentLengthText().value_or("none"));
    EXPECT_TRUE(ReadAll(*plain).bytes == text);

    // A gzip bomb: tiny on the wire, past the limit once decoded.
    std::unique_ptr<HttpResponse> bomb = Send("/tzan/PatchInfo.ini", SmallDocumentRequest(text.size() / 4));
    ASSERT_TRUE(bomb);
    Body cut = ReadAll(*bomb);
    EXPECT_EQ(ReadStatus::Error, cut.last);
    EXPECT_EQ(HttpFailure::TooLarge, bomb->Failure());
    EXPECT_LE(cut.bytes.size(), text.size() / 4);

    auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_NE(std::string::npos, requests[0].acceptEncoding.find("gzip"));
    EXPECT_EQ(std::string::npos, requests[1].acceptEncoding.find("gzip"));
}

TEST_F(http_hardening, EndlessBodiesStopAtTheLimitWhileTheyArrive) {
    server.Put("/tzan/patch.txt", "x");
    server.SetFault("/tzan/patch.txt", R"({"mode": "endless", "chunk": 65536})");
    for (uint64_t limit : {uint64_t{kMaxPatchListBytes}, uint64_t{kMaxSignatureBytes}, uint64_t{3} * 1024 * 1024}) {
        std::unique_ptr<HttpResponse> response = Send("/tzan/patch.txt", SmallDocumentRequest(limit));
        ASSERT_TRUE(response) << limit;
        Body body = ReadAll(*response);
        EXPECT_EQ(ReadStatus::Error, body.last) << limit;
        EXPECT_EQ(HttpFailure::TooLarge, response->Failure()) << limit;
        EXPECT_LE(body.bytes.size(), limit);
    }
}

TEST_F(http_hardening, AnnouncedLengthsPastTheLimitOrPastAnyNumberAreRefusedBeforeTheBody) {
    const std::string data = test::RandomBody(100 * 1024, 5);
    server.Put("/tzan/PatchInfo.ini.sig", data);
    std::unique_ptr<HttpResponse> tooLarge = Send("/tzan/PatchInfo.ini.sig", SmallDocumentRequest(kMaxSignatureBytes));
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(200, tooLarge->StatusCode());
    char byte;
    EXPECT_EQ(ReadStatus::Error, tooLarge->Read(&byte, 1).status);
    EXPECT_EQ(HttpFailure::TooLarge, tooLarge->Failure());

    // A length of 20 digits (past 2^64) and one just past 2^63: no size a caller can hold.
    for (const char* length : {"99999999999999999999", "9223372036854775808"}) {
        server.SetFault("/tzan/PatchInfo.ini.sig", std::string(R"({"mode": "wrong-length", "length": )") + length + "}");
        std::unique_ptr<HttpResponse> response = session->Open(server.url("/tzan/PatchInfo.ini.sig"));
        ASSERT_TRUE(response) << length;
        Body body = ReadAll(*response);
        EXPECT_EQ(ReadStatus::Error, body.last) << length;
        EXPECT_TRUE(body.bytes.empty()) << length;
        EXPECT_EQ(HttpFailure::MalformedLength, response->Failure()) << length;
    }

    // The same file within the limit still arrives.
    server.ClearFaults();
    std::unique_ptr<HttpResponse> fits = Send("/tzan/PatchInfo.ini.sig", SmallDocumentRequest(data.size()));
    ASSERT_TRUE(fits);
    EXPECT_TRUE(ReadAll(*fits).bytes == data);
}

TEST_F(http_hardening, ADripFeedEndsAtTheDeadlineOrBelowTheMinimumRate) {
    server.Put("/tzan/patch.txt", std::string(2000, 'a'));
    server.SetFault("/tzan/patch.txt", R"({"mode": "slow", "delay": 0.25, "chunk": 1})");
    HttpRequestOptions deadline;
    deadline.totalDeadlineSeconds = 2;
    std::unique_ptr<HttpResponse> late = Send("/tzan/patch.txt", deadline);
    ASSERT_TRUE(late);
    Body lateBody = ReadAll(*late);
    EXPECT_EQ(ReadStatus::Error, lateBody.last);
    EXPECT_EQ(HttpFailure::TooSlow, late->Failure());
    EXPECT_LT(lateBody.bytes.size(), 2000u);

    HttpRequestOptions rate;
    rate.minBytesPerSecond = 1024;
    rate.rateWindowSeconds = 2;
    std::unique_ptr<HttpResponse> slow = Send("/tzan/patch.txt", rate);
    ASSERT_TRUE(slow);
    Body slowBody = ReadAll(*slow);
    EXPECT_EQ(ReadStatus::Error, slowBody.last);
    EXPECT_EQ(HttpFailure::TooSlow, slow->Failure());
    EXPECT_LT(slowBody.bytes.size(), 2000u);
}

TEST_F(http_hardening, ALogonChallengeGetsNoCredentials) {
    server.Put("/tzan/patch.txt", "x");
    server.SetFault("/tzan/patch.txt", R"({"mode": "auth", "schemes": ["NTLM", "Negotiate", "Basic realm=\"patch\""]})");
    std::unique_ptr<HttpResponse> response = session->Open(server.url("/tzan/patch.txt"));
    ASSERT_TRUE(response);
    EXPECT_EQ(401, response->StatusCode());
    EXPECT_EQ(ReadStatus::End, ReadAll(*response).last);
    auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    for (const auto& request : requests) EXPECT_EQ("", request.authorization);
}

TEST_F(http_hardening, RedirectsAreFollowedButNeverFromHttpsDownToHttp) {
    server.Put("/tzan/patch.txt", "description=here\r\n");
    server.Put("/old/patch.txt", "x");
    server.SetFault("/old/patch.txt", R"({"mode": "redirect", "location": ")" + server.url("/tzan/patch.txt") + "\"}");
    std::unique_ptr<HttpResponse> moved = session->Open(server.url("/old/patch.txt"));
    ASSERT_TRUE(moved);
    EXPECT_EQ(200, moved->StatusCode());
    EXPECT_EQ("description=here\r\n", ReadAll(*moved).bytes);

#ifndef _WIN32
    test::PatchServer secure(test::PatchServerOptions{true});
    test::SetEnv("QUORVEL_TEST_CA_FILE", secure.certificate());
    secure.Put("/tzan/patch.txt", "x");
    secure.Put("/tzan/same.txt", "over tls");
    secure.SetFault("/tzan/patch.txt", R"({"mode": "redirect", "location": ")" + server.url("/tzan/patch.txt") + "\"}");
    secure.SetFault("/tzan/moved.txt", R"({"mode": "redirect", "location": ")" + secure.url("/tzan/same.txt") + "\"}");
    secure.Put("/tzan/moved.txt", "x");
    const size_t plainBefore = server.Requests().size();
    std::unique_ptr<HttpResponse> downgraded = session->Open(secure.url("/tzan/patch.txt"));
    std::unique_ptr<HttpResponse> kept = session->Open(secure.url("/tzan/moved.txt"));
    test::UnsetEnv("QUORVEL_TEST_CA_FILE");
    EXPECT_FALSE(downgraded);
    EXPECT_EQ(plainBefore, server.Requests().size());  // the plain server never heard of it
    ASSERT_TRUE(kept);
    EXPECT_EQ("over tls", ReadAll(*kept).bytes);
#endif
}

}  // namespace
}  // namespace qr
