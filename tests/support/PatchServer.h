// A real HTTP patch server for tests: tools/patch_server.py on a free loopback port, with a fresh
// root directory to serve and fault modes per path. Natively each object starts a server of its own;
// the Windows test executable under Wine cannot start Python, so there every object takes a fresh
// directory on the server that tests/http/run_win_tests.sh started (QR_TEST_SERVER_URL,
// QR_TEST_SERVER_ROOT, QR_TEST_SERVER_FAULTS, QR_TEST_SERVER_REQUESTS).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace qr::test {

// One request as the server saw it; a header that was not sent is empty.
struct ServedRequest {
    std::string method;
    std::string path;  // as passed to url(), without the query
    std::string userAgent;
    std::string cacheControl;
    std::string pragma;
    std::string range;
    std::string ifRange;
    std::string connection;  // "c<N>": requests with the same value came over one connection
    std::string acceptEncoding;
    std::string authorization;
};

struct PatchServerOptions {
    bool tls = false;  // HTTPS with a fresh self-signed certificate (own servers only, not under Wine)
};

class PatchServer {
public:
    // Throws std::runtime_error when no server can be had.
    explicit PatchServer(PatchServerOptions options = {});
    ~PatchServer();
    PatchServer(const PatchServer&) = delete;
    PatchServer& operator=(const PatchServer&) = delete;

    // Address of `path` ("/tzan/patch.txt") on this server.
    std::string url(const std::string& path) const;
    // The certificate an HTTPS server presents (PEM); empty for plain HTTP.
    const std::string& certificate() const { return certificate_; }
    // The directory served at "/", to write files into.
    const std::string& root() const { return root_; }
    // Writes `bytes` to the file served at `path`, creating its directories.
    void Put(const std::string& path, const std::string& bytes) const;
    // `faultJson` is one JSON object, e.g. {"mode": "drop", "after": 100}; it applies from the next
    // request for `path` on.
    void SetFault(const std::string& path, const std::string& faultJson);
    void ClearFaults();
    std::vector<ServedRequest> Requests() const;
    // How many connections the requests for this object's paths came over.
    size_t ConnectionCount() const;

private:
    void StartOwnServer(const PatchServerOptions& options);
    void UseSharedServer();
    void WriteFaults() const;
    void Stop();

    std::unique_ptr<TempDir> scratch_;  // own server only: root, fault file, request log
    std::string baseUrl_;               // scheme, host and port
    std::string prefix_;                // "/<dir>" on a shared server, empty on an own one
    std::string root_;
    std::string faultsPath_;
    std::string requestsPath_;
    std::string certificate_;
    std::vector<std::pair<std::string, std::string>> faults_;  // full path, JSON object
    long pid_ = -1;       // own server process
    int lifelineFd_ = -1;  // its stdin: the server stops when this closes, even if we crash
};

}  // namespace qr::test
