// Connection reuse of one session, counted by the patch server: sequential requests ride one
// connection, concurrent ones at most as many as are in flight.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/HttpClient.h"
#include "tests/support/HttpBodies.h"
#include "tests/support/PatchServer.h"

namespace qr {
namespace {

using test::ReadAll;

class HttpConnections : public ::testing::Test {
protected:
    test::PatchServer server;
    std::unique_ptr<HttpSession> session = OpenHttpSession(kHttpAgent);

    std::vector<std::string> PutFiles(int count, size_t size) {
        std::vector<std::string> bodies;
        for (int i = 0; i < count; ++i) {
            bodies.push_back(test::RandomBody(size + static_cast<size_t>(i) * 37, 100 + i));
            server.Put(Path(i), bodies.back());
        }
        return bodies;
    }
    static std::string Path(int i) { return "/tzan/patch/f" + std::to_string(i) + ".dat"; }
};
using http_connections = HttpConnections;

TEST_F(http_connections, SequentialRequestsOfOneSessionShareOneConnection) {
    ASSERT_TRUE(session);
    const std::vector<std::string> bodies = PutFiles(40, 3000);
    for (int i = 0; i < 40; ++i) {
        std::unique_ptr<HttpResponse> response = session->Open(server.url(Path(i)));
        ASSERT_TRUE(response) << i;
        test::Body body = ReadAll(*response);
        ASSERT_EQ(ReadStatus::End, body.last) << i;
        ASSERT_TRUE(body.bytes == bodies[i]) << i;
    }
    // Error statuses and resumed ranges keep the connection too.
    std::unique_ptr<HttpResponse> missing = session->Open(server.url("/tzan/patch/missing.dat"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(404, missing->StatusCode());
    EXPECT_EQ(ReadStatus::End, ReadAll(*missing).last);
    missing.reset();  // WinInet lets go of a connection when its request is closed
    std::unique_ptr<HttpResponse> range = session->OpenWithHeaders(server.url(Path(0)), {{"Range", "bytes=10-"}});
    ASSERT_TRUE(range);
    EXPECT_EQ(206, range->StatusCode());
    EXPECT_TRUE(ReadAll(*range).bytes == bodies[0].substr(10));
    std::string seen;  // which request opened which connection, should this fail
    for (const auto& request : server.Requests()) seen += request.connection + " " + request.path + "\n";
    EXPECT_EQ(42u, server.Requests().size());
    EXPECT_EQ(1u, server.ConnectionCount()) << seen;
}

TEST_F(http_connections, SixThreadsOnOneSessionUseAtMostSixConnections) {
    ASSERT_TRUE(session);
    constexpr int kThreads = 6, kEach = 8;
    const std::vector<std::string> bodies = PutFiles(kThreads * kEach, 20000);
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < kEach; ++k) {
                const int i = t * kEach + k;
                std::unique_ptr<HttpResponse> response = session->Open(server.url(Path(i)));
                test::Body body;
                if (response) body = ReadAll(*response);
                if (!response || body.last != ReadStatus::End || body.bytes != bodies[i]) ++wrong[t];
            }
        });
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, wrong[t]) << "thread " << t;
    EXPECT_EQ(static_cast<size_t>(kThreads * kEach), server.Requests().size());
    EXPECT_LE(server.ConnectionCount(), static_cast<size_t>(kThreads));
}

TEST_F(http_connections, ResponsesInFlightTogetherEachGetTheirOwnBody) {
    ASSERT_TRUE(session);
    const std::vector<std::string> bodies = PutFiles(6, 300 * 1024);
    // The first answers come last, so every body is read while the others are still open.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 6; ++i)
            server.SetFault(Path(i), R"({"before": )" + std::to_string(round == 0 ? 0.05 * (6 - i) : 0) + "}");
        std::vector<std::unique_ptr<HttpResponse>> open;
        for (int i = 0; i < 6; ++i) open.push_back(session->Open(server.url(Path(i))));
        std::vector<std::string> got(6);
        char chunk[kHttpChunkSize];
        for (bool more = true; more;) {
            more = false;
            for (int i = 0; i < 6; ++i) {
                if (!open[i]) continue;
                ReadResult r = open[i]->Read(chunk, sizeof chunk);
                if (r.status == ReadStatus::Data) {
                    got[i].append(chunk, r.count);
                    more = true;
                } else {
                    EXPECT_EQ(ReadStatus::End, r.status) << i;
                    open[i].reset();
                }
            }
        }
        for (int i = 0; i < 6; ++i) EXPECT_TRUE(got[i] == bodies[i]) << "round " << round << " file " << i;
    }
    EXPECT_LE(server.ConnectionCount(), 6u);
}

}  // namespace
}  // namespace qr
