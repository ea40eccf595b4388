// A file system whose files are flushed to the disk as they are closed, for the few files that must
// not wait for the durable barrier (the patch description before it replaces the previous copy).
#pragma once

#include "platform/FileSystem.h"

namespace qr {

class FlushingFileSystem : public FileSystem {
public:
    explicit FlushingFileSystem(FileSystem& inner) : inner_(inner) {}

    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override { return inner_.OpenRead(path); }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        std::unique_ptr<WritableFile> file = inner_.Create(path);
        if (!file) return nullptr;
        return std::make_unique<FlushedFile>(std::move(file));
    }
    bool Replace(const std::string& from, const std::string& to) override { return inner_.Replace(from, to); }
    bool Remove(const std::string& path) override { return inner_.Remove(path); }
    MakeDirResult MakeDirectory(const std::string& path) override { return inner_.MakeDirectory(path); }
    bool IsDirectory(const std::string& path) override { return inner_.IsDirectory(path); }
    bool ChangeDirectory(const std::string& path) override { return inner_.ChangeDirectory(path); }
    bool MakeDurable(const std::string& dir) override { return inner_.MakeDurable(dir); }

private:
    class FlushedFile : public WritableFile {
    public:
        explicit FlushedFile(std::unique_ptr<WritableFile> inner) : inner_(std::move(inner)) {}
        bool Write(const void* data, size_t length) override { return inner_->Write(data, length); }
        bool Close() override { return inner_->CloseDurably(); }
        bool CloseDurably() override { return inner_->CloseDurably(); }

    private:
        std::unique_ptr<WritableFile> inner_;
    };

    FileSystem& inner_;
};

}  // namespace qr
