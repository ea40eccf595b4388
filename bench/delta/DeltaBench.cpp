// The delta codec on one pair of files: makes the delta (level 19, long mode, segments as the
// publisher cuts them) and the whole compressed file, applies and unpacks them again, checks the
// results byte for byte and prints the sizes. scripts/bench-delta-codec.sh compares them with
// zstd's own --patch-from.
//   qr_delta_bench OLD NEW WORKDIR
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/DeltaDecoder.h"
#include "archive/DeltaEncoder.h"

namespace {

bool SameBytes(qr::FileSystem& fs, const std::string& a, const std::string& b) {
    auto first = fs.OpenRead(a), second = fs.OpenRead(b);
    if (!first || !second || first->Size() != second->Size()) return false;
    std::vector<char> x(1 << 20), y(1 << 20);
    for (uint64_t at = 0; at < first->Size();) {
        const size_t n = first->ReadAt(at, x.data(), x.size());
        if (n == 0 || second->ReadAt(at, y.data(), n) != n || std::memcmp(x.data(), y.data(), n) != 0) return false;
        at += n;
    }
    return true;
}

int Fail(const char* step, const qr::DeltaOutcome& outcome) {
    std::fprintf(stderr, "qr_delta_bench: %s failed: %s\n", step, outcome.reason.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OLD NEW WORKDIR\n", argv[0]);
        return 2;
    }
    qr::FileSystem& fs = qr::SystemFileSystem();
    const std::string work = argv[3];
    auto oldFile = fs.OpenRead(argv[1]), newFile = fs.OpenRead(argv[2]);
    if (!oldFile || !newFile) {
        std::fprintf(stderr, "qr_delta_bench: cannot open the files\n");
        return 1;
    }
    auto deltaOut = fs.Create(work + "/delta");
    qr::DeltaOutcome delta = qr::MakeDelta(*oldFile, *newFile, *deltaOut);
    if (!delta.ok || !deltaOut->Close()) return Fail("making the delta", delta);
    auto wholeOut = fs.Create(work + "/whole.zst");
    qr::DeltaOutcome whole = qr::CompressFile(*newFile, *wholeOut);
    if (!whole.ok || !wholeOut->Close()) return Fail("compressing", whole);

    auto deltaIn = fs.OpenRead(work + "/delta");
    auto applied = fs.Create(work + "/applied");
    qr::DeltaOutcome apply = qr::ApplyDelta(*oldFile, *deltaIn, *applied);
    if (!apply.ok || !applied->Close()) return Fail("applying", apply);
    auto wholeIn = fs.OpenRead(work + "/whole.zst");
    auto unpacked = fs.Create(work + "/unpacked");
    qr::DeltaOutcome unpack = qr::DecompressFile(*wholeIn, *unpacked);
    if (!unpack.ok || !unpacked->Close()) return Fail("unpacking", unpack);
    if (!SameBytes(fs, argv[2], work + "/applied") || !SameBytes(fs, argv[2], work + "/unpacked")) {
        std::fprintf(stderr, "qr_delta_bench: a result differs from the new file\n");
        return 1;
    }
    std::printf("%llu %llu %llu\n", static_cast<unsigned long long>(newFile->Size()),
                static_cast<unsigned long long>(delta.bytesWritten), static_cast<unsigned long long>(whole.bytesWritten));
    return 0;
}
