#include "release/FileHashing.h"

#include <algorithm>
#include <memory>
#include <new>

namespace qr {
namespace {

// Large blocks: verifying an install hashes every byte of it.
constexpr size_t kHashBlockSize = 4 << 20;

}  // namespace

std::optional<FileDigest> DigestOfFile(FileSystem& fs, const std::string& path) {
    std::unique_ptr<ReadableFile> file = fs.OpenRead(path);
    if (!file) return std::nullopt;
    std::unique_ptr<char[]> block(new (std::nothrow) char[kHashBlockSize]);
    Sha256 hash;
    if (!block || !hash.ok()) return std::nullopt;
    const uint64_t size = file->Size();
    for (uint64_t at = 0; at < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kHashBlockSize, size - at));
        const size_t got = file->ReadAt(at, block.get(), want);
        if (got == 0) return std::nullopt;  // unreadable or vanished bytes match no digest
        hash.Update(block.get(), got);
        at += got;
    }
    return FileDigest{DigestHex(hash.Finish()), size};
}

}  // namespace qr
