// The HTTP adaptor of this build (libcurl natively, WinInet on Windows) against the real patch
// server with its fault modes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/HttpClient.h"
#include "tests/support/HttpBodies.h"
#include "tests/support/PatchServer.h"

namespace qr {
namespace {

using test::Body;
using test::ReadAll;

std::string RandomBytes(size_t size, unsigned seed) { return test::RandomBody(size, seed); }

void SetStallSeconds(const char* seconds) {
#ifdef _WIN32
    _putenv_s("QR_HTTP_STALL_SECONDS", seconds);
#else
    if (*seconds)
        setenv("QR_HTTP_STALL_SECONDS", seconds, 1);
    else
        unsetenv("QR_HTTP_STALL_SECONDS");
#endif
}

class HttpClientTest : public ::testing::Test {
protected:
    test::PatchServer server;
    std::unique_ptr<HttpSession> session = OpenHttpSession(kHttpAgent);

    std::unique_ptr<HttpResponse> Get(const std::string& path) {
        if (!session) return nullptr;
        return session->Open(server.url(path));
    }
};
using http = HttpClientTest;  // suite name as the test runners select it

TEST_F(http, WholeBodyArrivesByteExactInChunksOfAtMost4096) {
    const std::string data = RandomBytes(3 * 1024 * 1024 + 123, 7);
    server.Put("/tzan/patch/big.bin", data);
    std::unique_ptr<HttpResponse> response = Get("/tzan/patch/big.bin");
    ASSERT_TRUE(response);
    session.reset();  // a response stays readable on its own
    EXPECT_EQ(200, response->StatusCode());
    EXPECT_EQ(std::to_string(data.size()), response->ContentLengthText().value_or("none"));
    Body body = ReadAll(*response);
    EXPECT_EQ(ReadStatus::End, body.last);
    EXPECT_LE(body.largestChunk, kHttpChunkSize);
    EXPECT_EQ(data.size(), body.bytes.size());
    EXPECT_TRUE(body.bytes == data);
}

TEST_F(http, ServerSeesAgentQrAndCacheBypass) {
    server.Put("/tzan/PatchInfo.ini", "[VERSION]\r\nversion=101\r\n");
    std::unique_ptr<HttpResponse> response = Get("/tzan/PatchInfo.ini");
    ASSERT_TRUE(response);
    EXPECT_EQ(ReadStatus::End, ReadAll(*response).last);
    auto requests = server.Requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("/tzan/PatchInfo.ini", requests[0].path);
    EXPECT_EQ("QR", requests[0].userAgent);
    EXPECT_NE(std::string::npos, requests[0].cacheControl.find("no-cache")) << requests[0].cacheControl;
    EXPECT_NE(std::string::npos, requests[0].pragma.find("no-cache")) << requests[0].pragma;
}

TEST_F(http, ErrorStatusesAreResponsesWithTheirBodies) {
    std::unique_ptr<HttpResponse> missing = Get("/tzan/patch/missing.bin");
    ASSERT_TRUE(missing);
    EXPECT_EQ(404, missing->StatusCode());
    Body notFound = ReadAll(*missing);
    EXPECT_EQ(ReadStatus::End, notFound.last);
    EXPECT_NE(std::string::npos, notFound.bytes.find("<html>"));

    server.Put("/tzan/patch/a.bin", "game data");
    server.SetFault("/tzan/patch/a.bin", R"({"mode": "status", "status": 500})");
    std::unique_ptr<HttpResponse> failing = Get("/tzan/patch/a.bin");
    ASSERT_TRUE(failing);
    EXPECT_EQ(500, failing->StatusCode());
    Body error = ReadAll(*failing);
    EXPECT_EQ(ReadStatus::End, error.last);
    EXPECT_EQ(std::to_string(error.bytes.size()), failing->ContentLengthText().value_or("none"));
    EXPECT_EQ(std::string::npos, error.bytes.find("game data"));

    server.ClearFaults();
    std::unique_ptr<HttpResponse> healed = Get("/tzan/patch/a.bin");
    ASSERT_TRUE(healed);
    EXPECT_EQ(200, healed->StatusCode());
    EXPECT_EQ("game data", ReadAll(*healed).bytes);
}

TEST_F(http, BrokenBodiesEndInErrorNotEnd) {
    const std::string data = RandomBytes(200 * 1024, 11);
    server.Put("/tzan/patch/dropped.bin", data);
    server.Put("/tzan/patch/short.bin", data);
    server.SetFault("/tzan/patch/dropped.bin", R"({"mode": "drop", "after": 70000})");
    server.SetFault("/tzan/patch/short.bin",
                    R"({"mode": "wrong-length", "length": )" + std::to_string(data.size() + 500) + "}");

    std::unique_ptr<HttpResponse> dropped = Get("/tzan/patch/dropped.bin");
    ASSERT_TRUE(dropped);
    EXPECT_EQ(std::to_string(data.size()), dropped->ContentLengthText().value_or("none"));
    Body cut = ReadAll(*dropped);
    EXPECT_EQ(ReadStatus::Error, cut.last);
    EXPECT_LE(cut.bytes.size(), 70000u);
    EXPECT_TRUE(data.compare(0, cut.bytes.size(), cut.bytes) == 0);
    char byte;
    EXPECT_EQ(ReadStatus::Error, dropped->Read(&byte, 1).status);  // stays broken

    std::unique_ptr<HttpResponse> shorter = Get("/tzan/patch/short.bin");
    ASSERT_TRUE(shorter);
    EXPECT_EQ(ReadStatus::Error, ReadAll(*shorter).last);
}

// Both adaptors keep connections open, so the announced length frames the body: what a server sends
// past it is never handed up as part of this body.
TEST_F(http, BodyLongerThanAnnouncedIsNeverHandedUpPastTheAnnouncedLength) {
    const std::string data = RandomBytes(50 * 1024, 13);
    server.Put("/tzan/patch/long.bin", data);
    server.SetFault("/tzan/patch/long.bin", R"({"mode": "wrong-length", "length": 20000})");
    std::unique_ptr<HttpResponse> response = Get("/tzan/patch/long.bin");
    ASSERT_TRUE(response);
    EXPECT_EQ("20000", response->ContentLengthText().value_or("none"));
    Body body = ReadAll(*response);
    EXPECT_LE(body.bytes.size(), 20000u);
    EXPECT_TRUE(data.compare(0, body.bytes.size(), body.bytes) == 0);
    if (body.last == ReadStatus::End) {
        EXPECT_EQ(20000u, body.bytes.size());
    }
}

TEST_F(http, BodyWithoutLengthIsReadToTheClose) {
    const std::string data = RandomBytes(100 * 1024 + 1, 17);
    server.Put("/tzan/patch/nolength.bin", data);
    server.SetFault("/tzan/patch/nolength.bin", R"({"mode": "no-length"})");
    std::unique_ptr<HttpResponse> response = Get("/tzan/patch/nolength.bin");
    ASSERT_TRUE(response);
    EXPECT_EQ(200, response->StatusCode());
    EXPECT_FALSE(response->ContentLengthText().has_value());
    Body body = ReadAll(*response);
    EXPECT_EQ(ReadStatus::End, body.last);
    EXPECT_TRUE(body.bytes == data);
}

TEST_F(http, SlowBodyStillCompletes) {
    const std::string data = RandomBytes(30 * 1024, 19);
    server.Put("/tzan/patch/slow.bin", data);
    server.SetFault("/tzan/patch/slow.bin", R"({"mode": "slow", "delay": 0.02, "chunk": 1500})");
    std::unique_ptr<HttpResponse> response = Get("/tzan/patch/slow.bin");
    ASSERT_TRUE(response);
    Body body = ReadAll(*response);
    EXPECT_EQ(ReadStatus::End, body.last);
    EXPECT_TRUE(body.bytes == data);
}

TEST_F(http, StalledBodyEndsInError) {
    SetStallSeconds("2");
    session = OpenHttpSession(kHttpAgent);
    SetStallSeconds("");
    server.Put("/tzan/patch/stuck.bin", RandomBytes(10000, 23));
    // Wine's WinInet has no receive time-out; there the server's own close after the hang ends it.
    server.SetFault("/tzan/patch/stuck.bin", R"({"mode": "hang", "seconds": 6})");
    std::unique_ptr<HttpResponse> response = Get("/tzan/patch/stuck.bin");
    ASSERT_TRUE(response);
    EXPECT_EQ(200, response->StatusCode());
    EXPECT_EQ(ReadStatus::Error, ReadAll(*response).last);
}

TEST_F(http, UnreachableOrUnusableAddressesGiveNoResponse) {
    ASSERT_TRUE(session);
    EXPECT_FALSE(session->Open("http://127.0.0.1:1/tzan/patch.txt"));
    EXPECT_FALSE(session->Open(""));
    EXPECT_FALSE(session->Open("not an address"));
    EXPECT_FALSE(session->Open("file:///etc/passwd"));
}

}  // namespace
}  // namespace qr
