// Ranged requests through this build's HTTP adaptor against the real patch server: the request
// headers reach the server, and the answer's status, Content-Range and validators reach the caller.
#include <gtest/gtest.h>

#include "platform/HttpClient.h"
#include "tests/support/PatchServer.h"

namespace qr {
namespace {

std::string Body(HttpResponse& response, ReadStatus* last = nullptr) {
    std::string bytes;
    char buffer[kHttpChunkSize];
    for (;;) {
        ReadResult r = response.Read(buffer, sizeof buffer);
        if (last) *last = r.status;
        if (r.status != ReadStatus::Data) return bytes;
        bytes.append(buffer, r.count);
    }
}

TEST(http_range, RangeIfRangeAndTheAnswersHeaders) {
    test::PatchServer server;
    auto session = OpenHttpSession(kHttpAgent);
    ASSERT_TRUE(session);
    std::string data;
    for (int i = 0; i < 20000; ++i) data += static_cast<char>('a' + i % 26);
    server.Put("/f/x.bin", data);
    const std::string url = server.url("/f/x.bin");

    auto whole = session->Open(url);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->StatusCode(), 200);
    const std::string etag = whole->HeaderText("etag").value_or("");
    EXPECT_EQ(etag.front(), '"');
    EXPECT_TRUE(whole->HeaderText("Last-Modified"));
    EXPECT_FALSE(whole->HeaderText("Content-Range"));
    EXPECT_EQ(Body(*whole), data);

    auto part = session->OpenWithHeaders(url, {{"Range", "bytes=15000-"}, {"If-Range", etag}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->StatusCode(), 206);
    EXPECT_EQ(part->HeaderText("Content-Range").value_or(""), "bytes 15000-19999/20000");
    EXPECT_EQ(part->ContentLengthText().value_or(""), "5000");
    EXPECT_EQ(part->HeaderText("ETag").value_or(""), etag);
    ReadStatus last = ReadStatus::Error;
    EXPECT_EQ(Body(*part, &last), data.substr(15000));
    EXPECT_EQ(last, ReadStatus::End);

    auto changed = session->OpenWithHeaders(url, {{"Range", "bytes=15000-"}, {"If-Range", "\"other\""}});
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->StatusCode(), 200);
    EXPECT_EQ(Body(*changed), data);

    auto past = session->OpenWithHeaders(url, {{"Range", "bytes=20000-"}});
    ASSERT_TRUE(past);
    EXPECT_EQ(past->StatusCode(), 416);

    // Header text that would start a header of its own is never sent.
    EXPECT_FALSE(session->OpenWithHeaders(url, {{"Range", "bytes=1-\r\nX-Evil: 1"}}));

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].range, "bytes=15000-");
    EXPECT_EQ(requests[1].ifRange, etag);
    EXPECT_EQ(requests[1].userAgent, "QR");
}

}  // namespace
}  // namespace qr
