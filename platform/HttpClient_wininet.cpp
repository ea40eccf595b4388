// The HTTP client on WinInet, as the shipping launcher uses it. WinInet hands the body up to the
// announced length and reports a connection that closes early as a normal end, so the bytes are
// counted here and a short body becomes an error. One internet handle serves a whole run, so its
// connections are kept open and reused between requests; requests may run on several threads at once.
#include "platform/HttpClient.h"
#include "platform/HttpText.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace qr {
namespace {

constexpr DWORD kConnectTimeoutMs = 15000;
// Transfers of one run may be in flight together; WinInet's own default of two per server would make
// the third wait for one of the first two to end.
constexpr DWORD kMaxConnectionsPerServer = 16;
constexpr DWORD kDefaultStallMs = 30000;

// Always from the server, never from or into the local cache; proxies are told the same by the
// no-cache headers. No dialogs: the worker runs without anyone to answer them. No logon: a server
// that asks for NTLM or Negotiate never gets the player's Windows credentials. A redirect from HTTPS
// to HTTP stays refused (INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP is deliberately absent). No cookies:
// a patch server keeps no state about a player, and looking them up costs every request a visit to
// the cookie store.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION;
static_assert((kRequestFlags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP) == 0, "no downgrade from https");
constexpr char kRequestHeaders[] = "Cache-Control: no-cache\r\n";
constexpr char kCompressedHeader[] = "Accept-Encoding: gzip\r\n";

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

// The request's deadline and minimum rate, checked around every read. A body that trickles in is
// caught here; a read that gets nothing at all is ended by the receive time-out.
class TransferPace {
public:
    explicit TransferPace(const HttpRequestOptions& options)
        : start_(GetTickCount64()),
          deadlineMs_(static_cast<uint64_t>(options.totalDeadlineSeconds) * 1000),
          minRate_(options.minBytesPerSecond),
          windowMs_(static_cast<uint64_t>(options.rateWindowSeconds > 0 ? options.rateWindowSeconds : 30) * 1000),
          windowStart_(start_) {}

    // False once the deadline has passed or the last full window brought too few bytes.
    bool Keeps(size_t newBytes) {
        const uint64_t now = GetTickCount64();
        if (deadlineMs_ > 0 && now - start_ > deadlineMs_) return false;
        windowBytes_ += newBytes;
        if (minRate_ == 0 || now - windowStart_ < windowMs_) return true;
        const bool enough = windowBytes_ * 1000 >= static_cast<uint64_t>(minRate_) * (now - windowStart_);
        windowStart_ = now;
        windowBytes_ = 0;
        return enough;
    }

private:
    uint64_t start_;
    uint64_t deadlineMs_;
    unsigned minRate_;
    uint64_t windowMs_;
    uint64_t windowStart_;
    uint64_t windowBytes_ = 0;
};

struct ResponseSetup {
    int status = 0;
    std::optional<std::string> lengthText;
    bool encoded = false;  // decoded by WinInet: the announced length is the compressed one
    const HttpRequestOptions* options = nullptr;
};

class WinInetResponse : public HttpResponse {
public:
    WinInetResponse(std::shared_ptr<InternetHandle> internet, InternetHandle request, const ResponseSetup& setup)
        : internet_(std::move(internet)),
          request_(std::move(request)),
          status_(setup.status),
          lengthText_(setup.lengthText),
          encoded_(setup.encoded),
          maxBody_(setup.options->maxBodyBytes),
          pace_(*setup.options) {
        if (lengthText_) {
            announced_ = ParseContentLength(*lengthText_);
            if (!announced_) failure_ = HttpFailure::MalformedLength;
        }
        if (encoded_) announced_.reset();
        else if (announced_ && maxBody_ > 0 && *announced_ > maxBody_) failure_ = HttpFailure::TooLarge;
    }

    int StatusCode() const override { return status_; }
    std::optional<std::string> ContentLengthText() const override { return encoded_ ? std::nullopt : lengthText_; }
    std::optional<std::string> HeaderText(const std::string& name) const override {
        if (!request_) return std::nullopt;
        return QueryHeader(request_.get(), name);
    }
    HttpFailure Failure() const override { return failure_; }

    ReadResult Read(void* buffer, size_t length) override {
        length = std::min(length, kHttpChunkSize);
        if (length == 0 || failure_ != HttpFailure::None) return Broken(HttpFailure::Transfer);
        if (!pace_.Keeps(0)) return Broken(HttpFailure::TooSlow);
        // A synchronous read waits for its whole buffer; asking only for what has arrived lets a body
        // that trickles in be timed between reads.
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request_.get(), &available, 0, 0))
            return Broken(GetLastError() == ERROR_INTERNET_TIMEOUT ? HttpFailure::TooSlow : HttpFailure::Transfer);
        if (available > 0 && available < length) length = available;
        DWORD count = 0;
        if (!InternetReadFile(request_.get(), buffer, static_cast<DWORD>(length), &count))
            return Broken(GetLastError() == ERROR_INTERNET_TIMEOUT ? HttpFailure::TooSlow : HttpFailure::Transfer);
        if (count == 0) {
            if (announced_ && received_ != *announced_) return Broken(HttpFailure::Transfer);  // closed before the end
            return {ReadStatus::End, 0};
        }
        received_ += count;
        if (count > length || (announced_ && received_ > *announced_)) return Broken(HttpFailure::Transfer);
        if (maxBody_ > 0 && received_ > maxBody_) return Broken(HttpFailure::TooLarge);
        if (!pace_.Keeps(count)) return Broken(HttpFailure::TooSlow);
        return {ReadStatus::Data, count};
    }

private:
    // The request stays open after a failure: a caller keeping a partial file still reads its validator.
    ReadResult Broken(HttpFailure reason) {
        if (failure_ == HttpFailure::None) failure_ = reason;
        return {ReadStatus::Error, 0};
    }

    std::shared_ptr<InternetHandle> internet_;  // closing it would close the request too
    InternetHandle request_;
    int status_;
    std::optional<std::string> lengthText_;
    bool encoded_;
    uint64_t maxBody_;
    TransferPace pace_;
    std::optional<uint64_t> announced_;
    uint64_t received_ = 0;
    HttpFailure failure_ = HttpFailure::None;
};

bool IsEncoded(HINTERNET request) {
    std::optional<std::string> coding = QueryHeader(request, "Content-Encoding");
    return coding && !coding->empty() && !SameTextNoCase(*coding, "identity");
}

class WinInetSession : public HttpSession {
public:
    explicit WinInetSession(InternetHandle internet)
        : internet_(std::make_shared<InternetHandle>(std::move(internet))) {}

    std::unique_ptr<HttpResponse> Open(const std::string& url) override { return Send(url, {}); }

    std::unique_ptr<HttpResponse> OpenWithHeaders(const std::string& url, const HttpHeaders& extra) override {
        HttpRequestOptions options;
        options.headers = extra;
        return Send(url, options);
    }

    std::unique_ptr<HttpResponse> Send(const std::string& url, const HttpRequestOptions& options) override {
        if (!IsHttpUrl(url)) return nullptr;
        std::string headers = kRequestHeaders;
        if (options.acceptCompressed) headers += kCompressedHeader;
        for (const HttpHeader& h : options.headers) {
            if (!IsSafeHeaderText(h.name) || !IsSafeHeaderText(h.value)) return nullptr;
            headers += h.name + ": " + h.value + "\r\n";
        }
        InternetHandle request(InternetOpenUrlA(internet_->get(), url.c_str(), headers.c_str(),
                                                static_cast<DWORD>(headers.size()), kRequestFlags, 0));
        if (!request) return nullptr;
        ResponseSetup setup;
        std::optional<int> status = QueryStatus(request.get());
        if (!status) return nullptr;
        setup.status = *status;
        setup.lengthText = QueryContentLength(request.get());
        setup.encoded = IsEncoded(request.get());
        setup.options = &options;
        return std::make_unique<WinInetResponse>(internet_, std::move(request), setup);
    }

private:
    std::shared_ptr<InternetHandle> internet_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const std::string& agent) {
    // A process-wide setting, made before the first connection.
    DWORD connections = kMaxConnectionsPerServer;
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections, sizeof(connections));
    InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections, sizeof(connections));
    InternetHandle internet(InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return nullptr;
    // Requests opened on this handle take these over on Windows, so a dead server or a stalled body
    // ends in an error instead of a wait without end. (Wine ignores them and waits for the close.)
    DWORD connectMs = kConnectTimeoutMs, stallMs = StallMilliseconds();
    InternetSetOptionA(internet.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof(connectMs));
    InternetSetOptionA(internet.get(), INTERNET_OPTION_SEND_TIMEOUT, &stallMs, sizeof(stallMs));
    InternetSetOptionA(internet.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &stallMs, sizeof(stallMs));
    // Decoding must be on before a request is sent; only requests that ask for gzip get it, since
    // only they send Accept-Encoding.
    BOOL decode = TRUE;
    InternetSetOptionA(internet.get(), INTERNET_OPTION_HTTP_DECODING, &decode, sizeof(decode));
    return std::make_unique<WinInetSession>(std::move(internet));
}

}  // namespace qr
