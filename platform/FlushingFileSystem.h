// A file system whose files are flushed to the disk as they are closed, for the few files that must
// not wait for the durable barrier (the patch description before it replaces the previous copy).
#pragma once

#include "platform/ForwardingFileSystem.h"

namespace qr {

class FlushingFileSystem : public ForwardingFileSystem {
public:
    explicit FlushingFileSystem(FileSystem& inner) : ForwardingFileSystem(inner) {}

    std::unique_ptr<WritableFile> Create(const std::string& path) override { return Flushed(inner().Create(path)); }
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
        return Flushed(inner().CreateNew(path));
    }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override {
        return Flushed(inner().OpenAppend(path));
    }

private:
    class FlushedFile : public ForwardingWritableFile {
    public:
        using ForwardingWritableFile::ForwardingWritableFile;
        bool Close() override { return inner().CloseDurably(); }
    };

    static std::unique_ptr<WritableFile> Flushed(std::unique_ptr<WritableFile> file) {
        if (!file) return nullptr;
        return std::make_unique<FlushedFile>(std::move(file));
    }
};

}  // namespace qr
