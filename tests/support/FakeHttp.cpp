#include "tests/support/FakeHttp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qr::test {
namespace {

class FakeResponse : public HttpResponse {
public:
    explicit FakeResponse(FakeResource resource) : r_(std::move(resource)) {}
    int StatusCode() const override { return r_.status; }
    std::optional<std::string> ContentLengthText() const override {
        if (r_.contentLength) return r_.contentLength->empty() ? std::nullopt : r_.contentLength;
        return std::to_string(generated() ? static_cast<uint64_t>(r_.generatedSize) : r_.body.size());
    }
    ReadResult Read(void* buffer, size_t length) override {
        if (r_.onRead) r_.onRead(static_cast<long long>(pos_));
        // 64-bit positions: a generated body may be longer than a 32-bit size_t counts.
        uint64_t limit = generated() ? static_cast<uint64_t>(r_.generatedSize) : r_.body.size();
        if (r_.breakAfter >= 0) limit = std::min(limit, static_cast<uint64_t>(r_.breakAfter));
        if (pos_ >= limit) return {r_.breakAfter >= 0 ? ReadStatus::Error : ReadStatus::End, 0};
        const auto n = static_cast<size_t>(std::min<uint64_t>(std::min(length, kHttpChunkSize), limit - pos_));
        if (generated())
            std::memset(buffer, static_cast<unsigned char>('g' + (pos_ >> 12) % 16), n);
        else
            std::memcpy(buffer, r_.body.data() + pos_, n);
        pos_ += n;
        return {ReadStatus::Data, n};
    }

private:
    bool generated() const { return r_.generatedSize >= 0; }

    FakeResource r_;
    uint64_t pos_ = 0;
};

class FakeSession : public HttpSession {
public:
    explicit FakeSession(FakeHttp& http) : http_(http) {}
    std::unique_ptr<HttpResponse> Open(const std::string& url) override {
        http_.requests.push_back(url);
        auto it = http_.resources.find(url);
        if (it == http_.resources.end()) return nullptr;  // host unreachable
        return std::make_unique<FakeResponse>(it->second);
    }

private:
    FakeHttp& http_;
};

}  // namespace

std::function<std::unique_ptr<HttpSession>(const std::string&)> FakeHttp::Factory() {
    return [this](const std::string& agent) -> std::unique_ptr<HttpSession> {
        if (sessionFails || agent != kHttpAgent) return nullptr;
        return std::make_unique<FakeSession>(*this);
    };
}

}  // namespace qr::test
