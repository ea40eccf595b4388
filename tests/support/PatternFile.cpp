#include "tests/support/PatternFile.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace qr::test {
namespace {

uint64_t Mix(uint64_t x) {  // splitmix64's finaliser: cheap and without visible repeats
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Bytes [position, position + length) of stream `stream`, eight at a time where aligned.
void StreamBytes(uint32_t stream, uint64_t position, unsigned char* out, size_t length) {
    const uint64_t key = static_cast<uint64_t>(stream) << 40;
    while (length > 0) {
        const uint64_t word = Mix(key ^ (position / 8));
        const size_t skip = static_cast<size_t>(position % 8);
        const size_t take = std::min<size_t>(8 - skip, length);
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(word >> (8 * i));
        std::memcpy(out, bytes + skip, take);
        out += take;
        position += take;
        length -= take;
    }
}

}  // namespace

PatternFile::PatternFile(std::vector<Piece> pieces) : pieces_(std::move(pieces)) {
    for (const Piece& piece : pieces_) size_ += piece.length;
}

size_t PatternFile::ReadAt(uint64_t offset, void* buffer, size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    uint64_t pieceStart = 0;
    for (const Piece& piece : pieces_) {
        const uint64_t pieceEnd = pieceStart + piece.length;
        if (done < length && offset + done < pieceEnd) {
            const uint64_t inside = offset + done - pieceStart;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(length - done, piece.length - inside));
            StreamBytes(piece.stream, piece.from + inside, out + done, take);
            done += take;
        }
        pieceStart = pieceEnd;
    }
    return done;
}

bool WritePatternFile(PatternFile& pattern, const std::string& path) {
    std::unique_ptr<WritableFile> out = SystemFileSystem().Create(path);
    if (!out) return false;
    std::vector<unsigned char> buffer(1 << 20);
    for (uint64_t offset = 0; offset < pattern.Size();) {
        const size_t got = pattern.ReadAt(offset, buffer.data(), buffer.size());
        if (!out->Write(buffer.data(), got)) return false;
        offset += got;
    }
    return out->Close();
}

bool FileMatchesPattern(const std::string& path, PatternFile& pattern, std::string* where) {
    std::unique_ptr<ReadableFile> file = SystemFileSystem().OpenRead(path);
    if (!file || file->Size() != pattern.Size()) {
        *where = file ? "size " + std::to_string(file->Size()) + " instead of " + std::to_string(pattern.Size())
                      : "cannot be opened";
        return false;
    }
    std::vector<unsigned char> expected(1 << 20), found(1 << 20);
    for (uint64_t offset = 0; offset < pattern.Size();) {
        const size_t want = pattern.ReadAt(offset, expected.data(), expected.size());
        if (file->ReadAt(offset, found.data(), want) != want || std::memcmp(expected.data(), found.data(), want)) {
            *where = "differs in the MiB at byte " + std::to_string(offset);
            return false;
        }
        offset += want;
    }
    return true;
}

}  // namespace qr::test
