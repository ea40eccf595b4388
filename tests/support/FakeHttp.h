// An in-memory HTTP session for tests that need exact control over each response (statuses, cut
// bodies, a stop request in the middle of a body). End-to-end tests use the real server instead.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/HttpClient.h"

namespace qr::test {

struct FakeResource {
    FakeResource(int status_ = 200, std::string body_ = {}, std::optional<std::string> contentLength_ = {})
        : status(status_), body(std::move(body_)), contentLength(std::move(contentLength_)) {}
    int status = 200;
    std::string body;
    std::optional<std::string> contentLength;  // defaults to the body's size
    long long breakAfter = -1;                  // report a broken transfer after this many bytes
    std::function<void(long long delivered)> onRead;  // called before each read
    long long generatedSize = -1;  // when set: a body of this many bytes made while it is read, never stored
};

class FakeHttp {
public:
    std::map<std::string, FakeResource> resources;
    std::vector<std::string> requests;
    bool sessionFails = false;

    // A factory for PatchWorkerContext::openSession.
    std::function<std::unique_ptr<HttpSession>(const std::string&)> Factory();
};

}  // namespace qr::test
