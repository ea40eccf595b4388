// The HTTP client on WinInet, as the shipping launcher uses it. WinInet hands the body up to the
// announced length and reports a connection that closes early as a normal end, so the bytes are
// counted here and a short body becomes an error.
#include "platform/HttpClient.h"
#include "platform/HttpText.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace qr {
namespace {

constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kDefaultStallMs = 30000;

// Always from the server, never from or into the local cache; proxies are told the same by the
// no-cache headers. No dialogs: the worker runs without anyone to answer them.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI;
constexpr char kRequestHeaders[] = "Cache-Control: no-cache\r\n";

// How long a transfer may go without a byte before it counts as broken; tests shorten it through
// QR_HTTP_STALL_SECONDS.
DWORD StallMilliseconds() {
    const char* text = std::getenv("QR_HTTP_STALL_SECONDS");
    if (!text) return kDefaultStallMs;
    long seconds = std::strtol(text, nullptr, 10);
    return seconds > 0 && seconds <= 3600 ? static_cast<DWORD>(seconds) * 1000 : kDefaultStallMs;
}

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_) InternetCloseHandle(handle_);
    }
    InternetHandle(InternetHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    InternetHandle& operator=(InternetHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

std::optional<int> QueryStatus(HINTERNET request) {
    DWORD code = 0, size = sizeof(code);
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
        return std::nullopt;
    return static_cast<int>(code);
}

std::optional<std::string> QueryContentLength(HINTERNET request) {
    std::vector<char> text(32);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(text.size());
        if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text.data(), &size, nullptr))
            return std::string(text.data(), std::min<size_t>(size, text.size()));
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;  // no such header
        text.resize(size + 1);
    }
    return std::nullopt;
}

// The header named `name` of the response: the standard ones through their query codes, others
// through HTTP_QUERY_CUSTOM (which takes the name in the buffer).
std::optional<std::string> QueryHeader(HINTERNET request, const std::string& name) {
    DWORD query = HTTP_QUERY_CUSTOM;
    if (SameTextNoCase(name, "ETag")) query = HTTP_QUERY_ETAG;
    else if (SameTextNoCase(name, "Last-Modified")) query = HTTP_QUERY_LAST_MODIFIED;
    else if (SameTextNoCase(name, "Content-Range")) query = HTTP_QUERY_CONTENT_RANGE;
    else if (SameTextNoCase(name, "Content-Length")) query = HTTP_QUERY_CONTENT_LENGTH;
    std::vector<char> text(std::max<size_t>(256, name.size() + 1));
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (query == HTTP_QUERY_CUSTOM) {
            std::fill(text.begin(), text.end(), '\0');
            std::copy(name.begin(), name.end(), text.begin());
        }
        DWORD size = static_cast<DWORD>(text.size());
        DWORD index = 0;
        if (HttpQueryInfoA(request, query, text.data(), &size, &index))
            return std::string(text.data(), std::min<size_t>(size, text.size()));
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
        text.resize(std::max<size_t>(size + 1, name.size() + 1));
    }
    return std::nullopt;
}

class WinInetResponse : public HttpResponse {
public:
    WinInetResponse(std::shared_ptr<InternetHandle> internet, InternetHandle request, int status,
                    std::optional<std::string> lengthText)
        : internet_(std::move(internet)),
          request_(std::move(request)),
          status_(status),
          lengthText_(std::move(lengthText)) {
        if (lengthText_) announced_ = ParseContentLength(*lengthText_);
    }

    int StatusCode() const override { return status_; }
    std::optional<std::string> ContentLengthText() const override { return lengthText_; }
    std::optional<std::string> HeaderText(const std::string& name) const override {
        return QueryHeader(request_.get(), name);
    }

    ReadResult Read(void* buffer, size_t length) override {
        length = std::min(length, kHttpChunkSize);
        if (length == 0 || broken_) return Broken();
        DWORD count = 0;
        if (!InternetReadFile(request_.get(), buffer, static_cast<DWORD>(length), &count)) return Broken();
        if (count == 0) {
            if (announced_ && received_ != *announced_) return Broken();  // closed before the end
            return {ReadStatus::End, 0};
        }
        received_ += count;
        if (count > length || (announced_ && received_ > *announced_)) return Broken();
        return {ReadStatus::Data, count};
    }

private:
    ReadResult Broken() {
        broken_ = true;
        return {ReadStatus::Error, 0};
    }

    std::shared_ptr<InternetHandle> internet_;  // closing it would close the request too
    InternetHandle request_;
    int status_;
    std::optional<std::string> lengthText_;
    std::optional<uint64_t> announced_;
    uint64_t received_ = 0;
    bool broken_ = false;
};

class WinInetSession : public HttpSession {
public:
    explicit WinInetSession(InternetHandle internet)
        : internet_(std::make_shared<InternetHandle>(std::move(internet))) {}

    std::unique_ptr<HttpResponse> Open(const std::string& url) override { return OpenWithHeaders(url, {}); }

    std::unique_ptr<HttpResponse> OpenWithHeaders(const std::string& url, const HttpHeaders& extra) override {
        if (!IsHttpUrl(url)) return nullptr;
        std::string headers = kRequestHeaders;
        for (const HttpHeader& h : extra) {
            if (!IsSafeHeaderText(h.name) || !IsSafeHeaderText(h.value)) return nullptr;
            headers += h.name + ": " + h.value + "\r\n";
        }
        InternetHandle request(InternetOpenUrlA(internet_->get(), url.c_str(), headers.c_str(),
                                                static_cast<DWORD>(headers.size()), kRequestFlags, 0));
        if (!request) return nullptr;
        std::optional<int> status = QueryStatus(request.get());
        if (!status) return nullptr;
        std::optional<std::string> length = QueryContentLength(request.get());
        return std::make_unique<WinInetResponse>(internet_, std::move(request), *status, std::move(length));
    }

private:
    std::shared_ptr<InternetHandle> internet_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const std::string& agent) {
    InternetHandle internet(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return nullptr;
    // Requests opened on this handle take these over on Windows, so a dead server or a stalled body
    // ends in an error instead of a wait without end. (Wine ignores them and waits for the close.)
    DWORD connectMs = kConnectTimeoutMs, stallMs = StallMilliseconds();
    InternetSetOptionA(internet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof(connectMs));
    InternetSetOptionA(internet.get(), INTERNET_OPTION_SEND_TIMEOUT, &stallMs, sizeof(stallMs));
    InternetSetOptionA(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &stallMs, sizeof(stallMs));
    return std::make_unique<WinInetSession>(std::move(internet));
}

}  // namespace qr
