// A writable file that counts and hashes what passes through on its way to the real file, so bytes
// written once can be held to a digest without reading them back.
#pragma once

#include <cstdint>

#include "platform/FileSystem.h"
#include "platform/Sha256.h"
#include "release/ReleaseDescription.h"

namespace qr {

class HashingFile : public WritableFile {
public:
    explicit HashingFile(WritableFile& inner) : inner_(inner) {}
    bool Write(const void* data, size_t length) override {
        hash_.Update(data, length);
        size_ += length;
        return inner_.Write(data, length);
    }
    bool Close() override { return true; }  // the owner closes the real file
    FileDigest Digest() { return {DigestHex(hash_.Finish()), size_}; }

private:
    WritableFile& inner_;
    Sha256 hash_;
    uint64_t size_ = 0;
};

}  // namespace qr
