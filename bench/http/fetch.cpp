// Fetches one URL into a file through the HTTP adaptor of this build, the way the patch worker
// does (reads of at most 4096 bytes, each written at once), and prints the bytes and seconds taken.
//   qr_bench_fetch [--discard | --gather] URL [OUTFILE]
// --discard writes nothing, which leaves the HTTP side alone; --gather still reads 4096 bytes at a
// time but writes 64 KB blocks, to show what the file writes cost.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/HttpClient.h"

namespace {

int Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "qr_bench_fetch: %s%s\n", what, detail.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 && argv[1][0] == '-' ? argv[1] : "";
    int first = mode.empty() ? 1 : 2;
    bool discard = mode == "--discard", gather = mode == "--gather";
    if ((!mode.empty() && !discard && !gather) || argc != first + (discard ? 1 : 2)) {
        std::fprintf(stderr, "usage: qr_bench_fetch [--discard | --gather] URL [OUTFILE]\n");
        return 2;
    }
    const std::string url = argv[first];
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<qr::HttpSession> session = qr::OpenHttpSession(qr::kHttpAgent);
    std::unique_ptr<qr::HttpResponse> response = session ? session->Open(url) : nullptr;
    if (!response) return Fail("cannot reach ", url);
    if (response->StatusCode() / 100 != 2) return Fail("status ", std::to_string(response->StatusCode()));
    std::unique_ptr<qr::WritableFile> out;
    if (!discard) {
        out = qr::SystemFileSystem().Create(argv[first + 1]);
        if (!out) return Fail("cannot create ", argv[first + 1]);
    }

    unsigned long long total = 0;
    std::vector<char> block;
    block.reserve(64 * 1024);
    char buffer[qr::kHttpChunkSize];
    for (;;) {
        qr::ReadResult r = response->Read(buffer, sizeof buffer);
        if (r.status == qr::ReadStatus::End) break;
        if (r.status == qr::ReadStatus::Error) return Fail("transfer broke after bytes: ", std::to_string(total));
        total += r.count;
        if (!out) continue;
        if (gather) {
            block.insert(block.end(), buffer, buffer + r.count);
            if (block.size() + qr::kHttpChunkSize <= block.capacity()) continue;
            if (!out->Write(block.data(), block.size())) return Fail("cannot write", "");
            block.clear();
        } else if (!out->Write(buffer, r.count)) {
            return Fail("cannot write", "");
        }
    }
    if (out && !block.empty() && !out->Write(block.data(), block.size())) return Fail("cannot write", "");
    if (out && !out->Close()) return Fail("cannot finish ", argv[first + 1]);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%llu %.6f\n", total, seconds);
    return 0;
}
