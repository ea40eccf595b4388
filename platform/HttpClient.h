// The HTTP downloads the patch worker makes: every request bypasses caches, the agent name is "QR",
// the status code and Content-Length are exposed, and the body arrives in chunks of at most 4096
// bytes, pulled by the caller (nothing buffers a whole body). A session keeps its connections open
// between requests and may be used from several threads, each with responses of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qr {

inline constexpr size_t kHttpChunkSize = 4096;
inline constexpr const char kHttpAgent[] = "QR";

// A request header beyond those every request carries, e.g. {"Range", "bytes=100-"}.
struct HttpHeader {
    std::string name;
    std::string value;
};
using HttpHeaders = std::vector<HttpHeader>;

// Bounds and wishes of one request; zero means no bound. Without a rate the transfer only has to
// bring a byte now and then (the stall time, 30 s).
struct HttpRequestOptions {
    HttpHeaders headers;
    // Asks for a gzip transfer; the body is read decoded and then announces no length of its own.
    bool acceptCompressed = false;
    // The most body bytes (decoded) taken; a larger announced length fails before the body is read.
    uint64_t maxBodyBytes = 0;
    // The whole request, from sending it to the body's last byte.
    unsigned totalDeadlineSeconds = 0;
    // Fewer than minBytesPerSecond on average over rateWindowSeconds breaks the transfer.
    unsigned minBytesPerSecond = 0;
    unsigned rateWindowSeconds = 0;
};

enum class ReadStatus { Data, End, Error };

// Why Read gave Error, for messages and tests.
enum class HttpFailure {
    None,
    Transfer,         // dropped, cut short, longer than announced, malformed
    TooLarge,         // past the request's byte limit, announced or arriving
    TooSlow,          // the deadline passed or the rate stayed below the minimum
    MalformedLength,  // a Content-Length that is no usable number
};

struct ReadResult {
    ReadStatus status = ReadStatus::Error;
    size_t count = 0;  // bytes placed in the buffer when status is Data (always > 0 then)
};

class HttpResponse {
public:
    virtual ~HttpResponse() = default;
    virtual int StatusCode() const = 0;
    // The Content-Length header as its decimal text; empty when the response carries none.
    virtual std::optional<std::string> ContentLengthText() const = 0;
    // Reads the next part of the body, at most `length` bytes (callers pass up to kHttpChunkSize).
    // End means the body finished normally; Error means the transfer broke (connection dropped,
    // time-out).
    virtual ReadResult Read(void* buffer, size_t length) = 0;
    // A header of the final response by name, compared without case ("ETag", "Last-Modified",
    // "Content-Range"); nothing when it was not sent or the adaptor cannot tell.
    virtual std::optional<std::string> HeaderText(const std::string& /*name*/) const { return std::nullopt; }
    // Why the body broke; None while it has not.
    virtual HttpFailure Failure() const { return HttpFailure::None; }
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // Sends a GET for `url`; null when the server cannot be reached or the address is unusable.
    // Any status (also 404 or 500) gives a response: the caller decides what a status means.
    virtual std::unique_ptr<HttpResponse> Open(const std::string& url) = 0;
    // The same GET with extra request headers. A session that cannot send them sends none, which a
    // resuming caller sees as a server that ignores ranges.
    virtual std::unique_ptr<HttpResponse> OpenWithHeaders(const std::string& url, const HttpHeaders& /*headers*/) {
        return Open(url);
    }
    // The GET with everything `options` asks. A session that knows no options sends the headers only.
    virtual std::unique_ptr<HttpResponse> Send(const std::string& url, const HttpRequestOptions& options) {
        return OpenWithHeaders(url, options.headers);
    }
};

// Opens the internet layer with the given agent name; null when the platform cannot offer one.
std::unique_ptr<HttpSession> OpenHttpSession(const std::string& agent);

}  // namespace qr
