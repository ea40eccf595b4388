// The HTTP client on libcurl. Each response owns a multi handle that moves the transfer on only while
// the caller reads: what curl receives in one step waits here for the caller's reads, and should that
// pile up (kMaxPending) the transfer is paused, so only a few hundred KB of a body are ever held.
// Pausing is the exception, not the rule: curl copies held data again on every pause.
#include "platform/HttpClient.h"
#include "platform/HttpText.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace qr {
namespace {

constexpr long kConnectTimeoutSeconds = 15;
constexpr long kDefaultStallSeconds = 30;
constexpr int kPollMilliseconds = 1000;
constexpr long kMaxRedirects = 5;
constexpr long kReceiveBuffer = 64 * 1024;
constexpr size_t kMaxPending = 256 * 1024;

// How long a transfer may go without a single byte before it counts as broken. Tests shorten it
// through QR_HTTP_STALL_SECONDS so a server that stops sending fails fast.
long StallSeconds() {
    const char* text = std::getenv("QR_HTTP_STALL_SECONDS");
    if (!text) return kDefaultStallSeconds;
    long value = std::strtol(text, nullptr, 10);
    return value > 0 && value <= 3600 ? value : kDefaultStallSeconds;
}

// Tests serve HTTPS with a certificate of their own and name it here; it is trusted instead of
// the system bundle (CURLOPT_CAINFO); peer and host checks stay on.
const char* TestCaFile() {
    const char* path = std::getenv("QUORVEL_TEST_CA_FILE");
    return path && *path ? path : nullptr;
}

bool InitCurlOnce() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

class CurlResponse : public HttpResponse {
public:
    CurlResponse() = default;
    CurlResponse(const CurlResponse&) = delete;
    CurlResponse& operator=(const CurlResponse&) = delete;
    ~CurlResponse() override {
        if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
    }

    // Sends the request and waits for the final response's headers; false when none came.
    bool Start(const std::string& url, const std::string& agent, long stallSeconds, const HttpHeaders& extra) {
        multi_.reset(curl_multi_init());
        easy_.reset(curl_easy_init());
        if (!multi_ || !easy_) return false;
        // Caches are bypassed on the way (proxies) as well as at the ends. The body is read up to the
        // connection's close, not up to Content-Length, so that a body longer than announced is seen
        // rather than cut silently; both lengths are then checked here.
        std::vector<std::string> lines = {"Cache-Control: no-cache", "Pragma: no-cache", "Connection: close"};
        for (const HttpHeader& h : extra) {
            if (!IsSafeHeaderText(h.name) || !IsSafeHeaderText(h.value)) return false;
            lines.push_back(h.name + ": " + h.value);
        }
        for (const std::string& h : lines) {
            curl_slist* grown = curl_slist_append(headers_.get(), h.c_str());
            if (!grown) return false;
            (void)headers_.release();  // `grown` is the same list, one entry longer
            headers_.reset(grown);
        }
        CURL* e = easy_.get();
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str());
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get());
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(e, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        if (const char* caFile = TestCaFile()) curl_easy_setopt(e, CURLOPT_CAINFO, caFile);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, stallSeconds);
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlResponse::OnHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlResponse::OnBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        if (curl_multi_add_handle(multi_.get(), e) != CURLM_OK) return false;
        attached_ = true;
        Drive([this] { return headersDone_; });
        return headersDone_;
    }

    int StatusCode() const override { return status_; }
    std::optional<std::string> ContentLengthText() const override { return lengthText_; }
    std::optional<std::string> HeaderText(const std::string& name) const override {
        for (const auto& [key, value] : responseHeaders_)
            if (SameTextNoCase(key, name)) return value;
        return std::nullopt;
    }

    ReadResult Read(void* buffer, size_t length) override {
        length = std::min(length, kHttpChunkSize);
        if (length == 0 || broken_) return {ReadStatus::Error, 0};
        if (pendingPos_ == pending_.size()) {
            pending_.clear();
            pendingPos_ = 0;
            if (paused_) {
                paused_ = false;
                curl_easy_pause(easy_.get(), CURLPAUSE_CONT);  // may hand over the held chunk at once
            }
            Drive([this] { return pendingPos_ < pending_.size(); });
        }
        if (pendingPos_ < pending_.size()) {
            size_t count = std::min(length, pending_.size() - pendingPos_);
            std::memcpy(buffer, pending_.data() + pendingPos_, count);
            pendingPos_ += count;
            received_ += count;
            if (announced_ && received_ > *announced_) return Broken();  // more than announced
            return {ReadStatus::Data, count};
        }
        // A server that keeps the connection open despite the request to close has still sent the
        // whole body when the count is right; only the wait for the close timed out.
        bool complete = announced_ && received_ == *announced_;
        if (result_ == CURLE_OPERATION_TIMEDOUT && complete) return {ReadStatus::End, 0};
        if (result_ != CURLE_OK) return Broken();  // dropped, timed out, malformed
        if (announced_ && received_ != *announced_) return Broken();  // closed before the end
        return {ReadStatus::End, 0};
    }

private:
    ReadResult Broken() {
        broken_ = true;
        return {ReadStatus::Error, 0};
    }

    // Runs the transfer until `ready` holds or it has finished.
    template <class Ready>
    void Drive(Ready ready) {
        while (!finished_ && !ready()) {
            int running = 0;
            if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
                Finish(CURLE_FAILED_INIT);
                break;
            }
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &left))
                if (msg->msg == CURLMSG_DONE) Finish(msg->data.result);
            if (finished_ || ready()) break;
            curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
        }
    }

    void Finish(CURLcode result) {
        finished_ = true;
        result_ = result;
    }

    // Headers arrive once per response: after a 1xx or a redirect that curl follows, a new set starts.
    static size_t OnHeader(char* data, size_t size, size_t count, void* context) {
        auto* self = static_cast<CurlResponse*>(context);
        size_t total = size * count;
        std::string_view line = Trim(std::string_view(data, total));
        if (StartsWithNoCase(line, "http/")) {
            self->lengthText_.reset();
            self->announced_.reset();
            self->location_ = false;
            self->responseHeaders_.clear();
        } else if (line.empty()) {
            long code = 0;
            curl_easy_getinfo(self->easy_.get(), CURLINFO_RESPONSE_CODE, &code);
            bool followed = code >= 300 && code < 400 && self->location_;
            if (code >= 200 && !followed) {
                self->status_ = static_cast<int>(code);
                self->headersDone_ = true;
            }
        } else if (StartsWithNoCase(line, "content-length:")) {
            std::string_view value = Trim(line.substr(std::strlen("content-length:")));
            self->lengthText_ = std::string(value);
            self->announced_ = ParseContentLength(value);
        } else if (StartsWithNoCase(line, "location:")) {
            self->location_ = true;
        }
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && !self->headersDone_)
            self->responseHeaders_.emplace_back(std::string(Trim(line.substr(0, colon))),
                                                std::string(Trim(line.substr(colon + 1))));
        return total;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* context) {
        auto* self = static_cast<CurlResponse*>(context);
        size_t total = size * count;
        if (self->pendingPos_ == self->pending_.size()) {
            self->pending_.clear();
            self->pendingPos_ = 0;
        } else if (self->pending_.size() - self->pendingPos_ >= kMaxPending) {
            self->paused_ = true;  // curl keeps this chunk and offers it again after the pause
            return CURL_WRITEFUNC_PAUSE;
        }
        self->pending_.insert(self->pending_.end(), data, data + total);
        return total;
    }

    std::unique_ptr<CURLM, MultiDeleter> multi_;
    std::unique_ptr<curl_slist, ListDeleter> headers_;  // must outlive the easy handle using it
    std::unique_ptr<CURL, EasyDeleter> easy_;
    bool attached_ = false;
    bool headersDone_ = false;
    bool location_ = false;
    bool finished_ = false;
    bool paused_ = false;
    bool broken_ = false;
    CURLcode result_ = CURLE_OK;
    int status_ = 0;
    std::optional<std::string> lengthText_;
    std::optional<uint64_t> announced_;
    std::vector<std::pair<std::string, std::string>> responseHeaders_;  // of the final response
    uint64_t received_ = 0;
    std::vector<char> pending_;
    size_t pendingPos_ = 0;
};

class CurlSession : public HttpSession {
public:
    explicit CurlSession(std::string agent) : agent_(std::move(agent)), stallSeconds_(StallSeconds()) {}

    std::unique_ptr<HttpResponse> Open(const std::string& url) override { return OpenWithHeaders(url, {}); }

    std::unique_ptr<HttpResponse> OpenWithHeaders(const std::string& url, const HttpHeaders& headers) override {
        if (url.empty()) return nullptr;
        auto response = std::make_unique<CurlResponse>();
        if (!response->Start(url, agent_, stallSeconds_, headers)) return nullptr;
        return response;
    }

private:
    std::string agent_;
    long stallSeconds_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const std::string& agent) {
    if (!InitCurlOnce()) return nullptr;
    return std::make_unique<CurlSession>(agent);
}

}  // namespace qr
