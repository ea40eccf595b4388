#include "tests/support/PatchServer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace qr::test {
namespace {

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The string value of `key` in one line of the request log (flat objects of strings and nulls,
// written by Python's json module); empty for null or a missing key.
std::string JsonField(const std::string& line, const std::string& key) {
    size_t at = line.find(JsonQuote(key) + ":");
    if (at == std::string::npos) return {};
    at = line.find_first_not_of(' ', at + key.size() + 3);
    if (at == std::string::npos || line[at] != '"') return {};
    std::string value;
    for (size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            value += line[i];
            continue;
        }
        char e = line[++i];
        switch (e) {
            case 'n': value += '\n'; break;
            case 't': value += '\t'; break;
            case 'r': value += '\r'; break;
            case 'b': value += '\b'; break;
            case 'f': value += '\f'; break;
            case 'u':
                if (i + 4 < line.size()) {
                    AppendUtf8(value, static_cast<unsigned>(std::stoul(line.substr(i + 1, 4), nullptr, 16)));
                    i += 4;
                }
                break;
            default: value += e;  // \" \\ \/
        }
    }
    return value;
}

std::string RequiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        throw std::runtime_error(std::string("no test server: ") + name +
                                 " is not set (run the Windows tests through tests/http/run_win_tests.sh)");
    return value;
}

// Faults of every object on the shared server, since they all live in one file.
std::mutex sharedFaultsMutex;
std::map<std::string, std::string> sharedFaults;

}  // namespace

PatchServer::PatchServer(PatchServerOptions options) {
#ifdef _WIN32
    if (options.tls) throw std::runtime_error("patch server: no HTTPS under Wine");
    UseSharedServer();
#else
    StartOwnServer(options);
#endif
    try {
        WriteFaults();
    } catch (...) {
        Stop();
        throw;
    }
}

void PatchServer::UseSharedServer() {
    static std::atomic<int> counter{0};
    baseUrl_ = RequiredEnv("QR_TEST_SERVER_URL");
    faultsPath_ = RequiredEnv("QR_TEST_SERVER_FAULTS");
    requestsPath_ = RequiredEnv("QR_TEST_SERVER_REQUESTS");
#ifdef _WIN32
    std::string dir = "t" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
#else
    std::string dir = "t" + std::to_string(++counter);
#endif
    prefix_ = "/" + dir;
    root_ = (fs::path(RequiredEnv("QR_TEST_SERVER_ROOT")) / dir).string();
    fs::remove_all(root_);
    fs::create_directories(root_);
}

#ifndef _WIN32
void PatchServer::StartOwnServer(const PatchServerOptions& options) {
    scratch_ = std::make_unique<TempDir>();
    root_ = scratch_->Join("root");
    faultsPath_ = scratch_->Join("faults.json");
    requestsPath_ = scratch_->Join("requests.jsonl");
    fs::create_directories(root_);

    std::string python = QR_PYTHON;
    if (python.empty()) python = "python3";
    std::string script = std::string(QR_SOURCE_DIR) + "/tools/patch_server.py";
    std::vector<std::string> args = {python, script, "--root", root_, "--port", "0", "--faults", faultsPath_,
                                     "--requests", requestsPath_, "--exit-on-stdin-eof"};
    if (options.tls) {
        certificate_ = scratch_->Join("cert.pem");
        const std::string key = scratch_->Join("key.pem");
        const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2"
                                 " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" + key +
                                 "' -out '" + certificate_ + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) throw std::runtime_error("patch server: openssl cannot make a certificate");
        args.insert(args.end(), {"--tls-cert", certificate_, "--tls-key", key});
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("patch server: pipe failed");
    if (pipe2(in, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        throw std::runtime_error("patch server: pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    lifelineFd_ = in[1];
    if (spawned != 0) {
        close(out[0]);
        throw std::runtime_error("patch server: cannot start " + python);
    }
    pid_ = pid;

    // "READY <port>" comes once the socket listens.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        char buffer[256];
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    int port = 0;
    if (line.rfind("READY ", 0) == 0) port = std::atoi(line.c_str() + 6);
    if (port <= 0) {
        Stop();  // the constructor will not finish, so the destructor will not run
        throw std::runtime_error("patch server did not report READY (got \"" + line + "\")");
    }
    baseUrl_ = (options.tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port);
}
#else
void PatchServer::StartOwnServer(const PatchServerOptions&) {}
#endif

PatchServer::~PatchServer() { Stop(); }

void PatchServer::Stop() {
#ifndef _WIN32
    if (pid_ > 0) {
        pid_t pid = static_cast<pid_t>(pid_);
        kill(pid, SIGTERM);
        int status = 0;
        bool gone = false;
        for (int i = 0; i < 100 && !gone; ++i) {
            gone = waitpid(pid, &status, WNOHANG) == pid;
            if (!gone) usleep(50 * 1000);
        }
        if (!gone) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid_ = -1;
    }
    if (lifelineFd_ >= 0) close(lifelineFd_);
    lifelineFd_ = -1;
#endif
    if (!prefix_.empty()) {
        faults_.clear();
        try {
            WriteFaults();
        } catch (...) {
        }
        std::error_code ec;
        fs::remove_all(root_, ec);
        prefix_.clear();
    }
}

std::string PatchServer::url(const std::string& path) const { return baseUrl_ + prefix_ + path; }

void PatchServer::Put(const std::string& path, const std::string& bytes) const {
    WriteFileBytes((fs::path(root_) / fs::path(path).relative_path()).string(), bytes);
}

void PatchServer::SetFault(const std::string& path, const std::string& faultJson) {
    std::string full = prefix_ + path;
    for (auto& entry : faults_)
        if (entry.first == full) {
            entry.second = faultJson;
            WriteFaults();
            return;
        }
    faults_.emplace_back(full, faultJson);
    WriteFaults();
}

void PatchServer::ClearFaults() {
    faults_.clear();
    WriteFaults();
}

// The server reads the file on every request, so it is replaced in one step, never rewritten.
void PatchServer::WriteFaults() const {
    std::string text = "{";
    auto add = [&text](const std::string& path, const std::string& json) {
        if (text.size() > 1) text += ",\n ";
        text += JsonQuote(path) + ": " + json;
    };
    if (prefix_.empty()) {
        for (const auto& [path, json] : faults_) add(path, json);
    } else {
        std::lock_guard<std::mutex> lock(sharedFaultsMutex);
        for (auto it = sharedFaults.begin(); it != sharedFaults.end();)
            it = it->first.rfind(prefix_ + "/", 0) == 0 ? sharedFaults.erase(it) : std::next(it);
        for (const auto& [path, json] : faults_) sharedFaults[path] = json;
        for (const auto& [path, json] : sharedFaults) add(path, json);
    }
    text += "}\n";
    std::string temporary = faultsPath_ + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) throw std::runtime_error("patch server: cannot write " + temporary);
    }
    fs::rename(temporary, faultsPath_);
}

std::vector<ServedRequest> PatchServer::Requests() const {
    std::vector<ServedRequest> requests;
    std::ifstream in(requestsPath_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::string path = JsonField(line, "path");
        if (path.rfind(prefix_ + "/", 0) != 0) continue;  // another object's directory
        requests.push_back({JsonField(line, "method"), path.substr(prefix_.size()), JsonField(line, "user_agent"),
                            JsonField(line, "cache_control"), JsonField(line, "pragma"),
                            JsonField(line, "range"), JsonField(line, "if_range"), JsonField(line, "connection"),
                            JsonField(line, "accept_encoding"), JsonField(line, "authorization")});
    }
    return requests;
}

size_t PatchServer::ConnectionCount() const {
    std::set<std::string> connections;
    for (const ServedRequest& request : Requests()) connections.insert(request.connection);
    return connections.size();
}

}  // namespace qr::test
