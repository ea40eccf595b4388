// Files held to a digest: the digest of a file on disk, and a writable file that hashes what passes
// through it, so bytes written once can be checked without reading them back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "release/ReleaseDescription.h"

namespace qr {

// Size and SHA-256 of the file at `path`; nothing when it cannot be opened or read whole.
std::optional<FileDigest> DigestOfFile(FileSystem& fs, const std::string& path);

class HashingFile : public WritableFile {
public:
    HashingFile() = default;  // hashes only: the bytes go nowhere
    explicit HashingFile(WritableFile& inner) : inner_(&inner) {}
    bool Write(const void* data, size_t length) override {
        hash_.Update(data, length);
        size_ += length;
        return !inner_ || inner_->Write(data, length);
    }
    bool Close() override { return true; }  // the owner closes the real file
    FileDigest Digest() { return {DigestHex(hash_.Finish()), size_}; }

private:
    WritableFile* inner_ = nullptr;
    Sha256 hash_;
    uint64_t size_ = 0;
};

}  // namespace qr
