// The HTTP client on libcurl. Each response drives a multi handle of its own that moves the transfer on
// only while the caller reads: what curl receives in one step waits here for the caller's reads, and
// should that pile up (kMaxPending) the transfer is paused, so only a few hundred KB of a body are ever
// held. Pausing is the exception, not the rule: curl copies held data again on every pause.
// Connections outlive their requests: every handle of a session shares one connection cache (and DNS
// and TLS session caches) through a share handle, and idle handles return to a pool for the next request.
#include "platform/HttpClient.h"
#include "platform/HttpText.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
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
constexpr size_t kMaxIdleHandles = 16;
// Connections the shared cache keeps, idle and busy together; curl's default (four per handle of a
// multi handle, and each of ours drives one) would close idle ones while a few others are busy.
constexpr long kMaxCachedConnections = 32;

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

// A gzip body may come out a little longer than its decoded bytes (stored blocks, headers): the raw
// transfer is held to this, so a stream that decodes to almost nothing cannot run on without end.
uint64_t RawLimitFor(uint64_t decodedLimit) { return decodedLimit + decodedLimit / 16 + 4096; }

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct ShareDeleter {
    void operator()(CURLSH* h) const { curl_share_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct TransferHandles {
    std::unique_ptr<CURLM, MultiDeleter> multi;
    std::unique_ptr<CURL, EasyDeleter> easy;
};

// What a session and its responses share; a response keeps it alive after its session has gone.
class CurlShared {
public:
    CurlShared() = default;
    CurlShared(const CurlShared&) = delete;
    CurlShared& operator=(const CurlShared&) = delete;
    ~CurlShared() { idle_.clear(); }  // every easy handle lets go of the share before it is cleaned up

    bool Init() {
        share_.reset(curl_share_init());
        if (!share_) return false;
        curl_share_setopt(share_.get(), CURLSHOPT_LOCKFUNC, &CurlShared::Lock);
        curl_share_setopt(share_.get(), CURLSHOPT_UNLOCKFUNC, &CurlShared::Unlock);
        curl_share_setopt(share_.get(), CURLSHOPT_USERDATA, this);
        return curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) == CURLSHE_OK &&
               curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
               curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
    }

    // An idle pair when there is one, else a new one; the easy handle comes with the share set.
    TransferHandles Take() {
        TransferHandles handles;
        {
            std::lock_guard<std::mutex> lock(poolMutex_);
            if (!idle_.empty()) {
                handles = std::move(idle_.back());
                idle_.pop_back();
            }
        }
        if (!handles.easy) {
            handles.multi.reset(curl_multi_init());
            handles.easy.reset(curl_easy_init());
            if (handles.multi) curl_multi_setopt(handles.multi.get(), CURLMOPT_MAXCONNECTS, kMaxCachedConnections);
        }
        if (handles.easy) curl_easy_setopt(handles.easy.get(), CURLOPT_SHARE, share_.get());
        return handles;
    }

    // The easy handle must be out of its multi handle; its options start over for the next request.
    void Give(TransferHandles handles) {
        if (!handles.multi || !handles.easy) return;
        curl_easy_reset(handles.easy.get());
        std::lock_guard<std::mutex> lock(poolMutex_);
        if (idle_.size() < kMaxIdleHandles) idle_.push_back(std::move(handles));
    }

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<CurlShared*>(self)->locks_[data % CURL_LOCK_DATA_LAST].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<CurlShared*>(self)->locks_[data % CURL_LOCK_DATA_LAST].unlock();
    }

    std::mutex locks_[CURL_LOCK_DATA_LAST];
    std::unique_ptr<CURLSH, ShareDeleter> share_;
    std::mutex poolMutex_;
    std::vector<TransferHandles> idle_;
};

struct RequestSetup {
    const std::string& url;
    const std::string& agent;
    long stallSeconds;
    const HttpRequestOptions& options;
};

class CurlResponse : public HttpResponse {
public:
    explicit CurlResponse(std::shared_ptr<CurlShared> shared) : shared_(std::move(shared)) {}
    CurlResponse(const CurlResponse&) = delete;
    CurlResponse& operator=(const CurlResponse&) = delete;
    ~CurlResponse() override {
        // An unfinished transfer closes its connection here; a finished one already went back to the cache.
        if (attached_) curl_multi_remove_handle(handles_.multi.get(), handles_.easy.get());
        shared_->Give(std::move(handles_));
    }

    // Sends the request and waits for the final response's headers; false when none came.
    bool Start(const RequestSetup& setup) {
        handles_ = shared_->Take();
        if (!handles_.multi || !handles_.easy) return false;
        const HttpRequestOptions& options = setup.options;
        maxBody_ = options.maxBodyBytes;
        // Caches are bypassed on the way (proxies) as well as at the ends.
        std::vector<std::string> lines = {"Cache-Control: no-cache", "Pragma: no-cache"};
        for (const HttpHeader& h : options.headers) {
            if (!IsSafeHeaderText(h.name) || !IsSafeHeaderText(h.value)) return false;
            lines.push_back(h.name + ": " + h.value);
        }
        for (const std::string& h : lines) {
            curl_slist* grown = curl_slist_append(headers_.get(), h.c_str());
            if (!grown) return false;
            (void)headers_.release();  // `grown` is the same list, one entry longer
            headers_.reset(grown);
        }
        CURL* e = handles_.easy.get();
        curl_easy_setopt(e, CURLOPT_URL, setup.url.c_str());
        curl_easy_setopt(e, CURLOPT_USERAGENT, setup.agent.c_str());
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get());
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // Once on TLS, a redirect may not step down to plain HTTP.
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, StartsWithNoCase(setup.url, "https://") ? "https" : "http,https");
        // The player's own credentials never go out: no .netrc, and no scheme beyond what a URL carries.
        curl_easy_setopt(e, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        if (const char* caFile = TestCaFile()) curl_easy_setopt(e, CURLOPT_CAINFO, caFile);
        if (options.acceptCompressed)
            curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "gzip");
        else
            curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);  // items are taken as served
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        SetPace(e, setup.stallSeconds, options);
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlResponse::OnHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlResponse::OnBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        if (maxBody_ > 0) {
            curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CurlResponse::OnProgress);
            curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
        }
        if (curl_multi_add_handle(handles_.multi.get(), e) != CURLM_OK) return false;
        attached_ = true;
        Drive([this] { return headersDone_; });
        return headersDone_;
    }

    int StatusCode() const override { return status_; }
    std::optional<std::string> ContentLengthText() const override { return encoded_ ? std::nullopt : lengthText_; }
    std::optional<std::string> HeaderText(const std::string& name) const override {
        for (const auto& [key, value] : responseHeaders_)
            if (SameTextNoCase(key, name)) return value;
        return std::nullopt;
    }
    HttpFailure Failure() const override { return failure_; }

    ReadResult Read(void* buffer, size_t length) override {
        length = std::min(length, kHttpChunkSize);
        if (length == 0 || failure_ != HttpFailure::None) return Broken(HttpFailure::Transfer);
        if (pendingPos_ == pending_.size()) {
            pending_.clear();
            pendingPos_ = 0;
            if (paused_) {
                paused_ = false;
                curl_easy_pause(handles_.easy.get(), CURLPAUSE_CONT);  // may hand over the held chunk at once
            }
            Drive([this] { return pendingPos_ < pending_.size(); });
        }
        if (pendingPos_ < pending_.size()) {
            size_t count = std::min(length, pending_.size() - pendingPos_);
            std::memcpy(buffer, pending_.data() + pendingPos_, count);
            pendingPos_ += count;
            received_ += count;
            if (CheckedLength() && received_ > *announced_) return Broken(HttpFailure::Transfer);
            return {ReadStatus::Data, count};
        }
        if (result_ == CURLE_OPERATION_TIMEDOUT) return Broken(HttpFailure::TooSlow);
        if (result_ != CURLE_OK) return Broken(HttpFailure::Transfer);  // dropped, malformed, aborted
        if (CheckedLength() && received_ != *announced_) return Broken(HttpFailure::Transfer);
        return {ReadStatus::End, 0};
    }

private:
    // The default asks one byte per stall time; a request may ask a real rate and a deadline.
    static void SetPace(CURL* e, long stallSeconds, const HttpRequestOptions& options) {
        long minRate = 1, window = stallSeconds;
        if (options.minBytesPerSecond > 0) {
            minRate = static_cast<long>(options.minBytesPerSecond);
            if (options.rateWindowSeconds > 0) window = static_cast<long>(options.rateWindowSeconds);
        }
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, minRate);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, window);
        if (options.totalDeadlineSeconds > 0)
            curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalDeadlineSeconds) * 1000L);
    }

    // A decoded body has no announced length of its own; curl holds the raw bytes to the header.
    bool CheckedLength() const { return announced_.has_value() && !encoded_; }

    // The first reason sticks: a limit that aborted the transfer stays the reason the caller sees.
    ReadResult Broken(HttpFailure reason) {
        if (failure_ == HttpFailure::None) failure_ = reason;
        return {ReadStatus::Error, 0};
    }

    // Runs the transfer until `ready` holds or it has finished.
    template <class Ready>
    void Drive(Ready ready) {
        while (!finished_ && !ready()) {
            int running = 0;
            if (curl_multi_perform(handles_.multi.get(), &running) != CURLM_OK) {
                Finish(CURLE_FAILED_INIT);
                break;
            }
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(handles_.multi.get(), &left))
                if (msg->msg == CURLMSG_DONE) Finish(msg->data.result);
            if (finished_ || ready()) break;
            curl_multi_poll(handles_.multi.get(), nullptr, 0, kPollMilliseconds, nullptr);
        }
    }

    void Finish(CURLcode result) {
        finished_ = true;
        result_ = result;
    }

    // At the end of the final response's headers: a length that is no number or above the limit ends
    // the transfer before any of the body is read.
    bool HeadersAcceptable() {
        if (lengthText_ && !announced_) {
            failure_ = HttpFailure::MalformedLength;
            return false;
        }
        if (maxBody_ > 0 && announced_ && *announced_ > (encoded_ ? RawLimitFor(maxBody_) : maxBody_)) {
            failure_ = HttpFailure::TooLarge;
            return false;
        }
        return true;
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
            self->encoded_ = false;
            self->responseHeaders_.clear();
        } else if (line.empty()) {
            long code = 0;
            curl_easy_getinfo(self->handles_.easy.get(), CURLINFO_RESPONSE_CODE, &code);
            bool followed = code >= 300 && code < 400 && self->location_;
            if (code >= 200 && !followed) {
                self->status_ = static_cast<int>(code);
                self->headersDone_ = true;
                if (!self->HeadersAcceptable()) return 0;
            }
        } else if (StartsWithNoCase(line, "content-length:")) {
            std::string_view value = Trim(line.substr(std::strlen("content-length:")));
            self->lengthText_ = std::string(value);
            self->announced_ = ParseContentLength(value);
        } else if (StartsWithNoCase(line, "content-encoding:")) {
            std::string_view value = Trim(line.substr(std::strlen("content-encoding:")));
            self->encoded_ = !value.empty() && !SameTextNoCase(value, "identity");
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
        self->bodyBytes_ += total;
        if (self->maxBody_ > 0 && self->bodyBytes_ > self->maxBody_) {
            self->failure_ = HttpFailure::TooLarge;
            return 0;  // the limit is reached while the bytes arrive, never after
        }
        self->pending_.insert(self->pending_.end(), data, data + total);
        return total;
    }

    // `now` counts the raw bytes on the wire, before any decoding.
    static int OnProgress(void* context, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
        auto* self = static_cast<CurlResponse*>(context);
        if (now > 0 && static_cast<uint64_t>(now) > RawLimitFor(self->maxBody_)) {
            self->failure_ = HttpFailure::TooLarge;
            return 1;
        }
        return 0;
    }

    std::shared_ptr<CurlShared> shared_;
    std::unique_ptr<curl_slist, ListDeleter> headers_;  // must outlive the easy handle's use of it
    TransferHandles handles_;
    bool attached_ = false;
    bool headersDone_ = false;
    bool location_ = false;
    bool encoded_ = false;
    bool finished_ = false;
    bool paused_ = false;
    HttpFailure failure_ = HttpFailure::None;
    CURLcode result_ = CURLE_OK;
    int status_ = 0;
    uint64_t maxBody_ = 0;
    uint64_t bodyBytes_ = 0;  // decoded, as handed to us by curl
    std::optional<std::string> lengthText_;
    std::optional<uint64_t> announced_;
    std::vector<std::pair<std::string, std::string>> responseHeaders_;  // of the final response
    uint64_t received_ = 0;
    std::vector<char> pending_;
    size_t pendingPos_ = 0;
};

class CurlSession : public HttpSession {
public:
    CurlSession(std::string agent, std::shared_ptr<CurlShared> shared)
        : agent_(std::move(agent)), stallSeconds_(StallSeconds()), shared_(std::move(shared)) {}

    std::unique_ptr<HttpResponse> Open(const std::string& url) override { return Send(url, {}); }

    std::unique_ptr<HttpResponse> OpenWithHeaders(const std::string& url, const HttpHeaders& headers) override {
        HttpRequestOptions options;
        options.headers = headers;
        return Send(url, options);
    }

    std::unique_ptr<HttpResponse> Send(const std::string& url, const HttpRequestOptions& options) override {
        if (url.empty()) return nullptr;
        auto response = std::make_unique<CurlResponse>(shared_);
        if (!response->Start(RequestSetup{url, agent_, stallSeconds_, options})) return nullptr;
        return response;
    }

private:
    std::string agent_;
    long stallSeconds_;
    std::shared_ptr<CurlShared> shared_;
};

}  // namespace

std::unique_ptr<HttpSession> OpenHttpSession(const std::string& agent) {
    if (!InitCurlOnce()) return nullptr;
    auto shared = std::make_shared<CurlShared>();
    if (!shared->Init()) return nullptr;
    return std::make_unique<CurlSession>(agent, std::move(shared));
}

}  // namespace qr
