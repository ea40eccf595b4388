// The base of every file-system layer that changes a few operations of another (flushing, moving the
// running program aside, test fakes): whatever a layer does not override reaches the inner file
// system, so an operation added later reaches every layer without edits.
#pragma once

#include "platform/FileSystem.h"

namespace qr {

class ForwardingFileSystem : public FileSystem {
public:
    explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}

    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override { return inner_.OpenRead(path); }
    std::unique_ptr<WritableFile> Create(const std::string& path) override { return inner_.Create(path); }
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override { return inner_.CreateNew(path); }
    bool Replace(const std::string& from, const std::string& to) override { return inner_.Replace(from, to); }
    bool Remove(const std::string& path) override { return inner_.Remove(path); }
    MakeDirResult MakeDirectory(const std::string& path) override { return inner_.MakeDirectory(path); }
    bool IsDirectory(const std::string& path) override { return inner_.IsDirectory(path); }
    bool ChangeDirectory(const std::string& path) override { return inner_.ChangeDirectory(path); }
    bool MakeDurable(const std::string& dir) override { return inner_.MakeDurable(dir); }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override { return inner_.OpenAppend(path); }
    bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
        return inner_.ListDirectory(path, out);
    }

protected:
    FileSystem& inner() const { return inner_; }

private:
    FileSystem& inner_;
};

// The same for an open file that a layer wraps.
class ForwardingWritableFile : public WritableFile {
public:
    explicit ForwardingWritableFile(std::unique_ptr<WritableFile> inner) : inner_(std::move(inner)) {}

    bool Write(const void* data, size_t length) override { return inner_->Write(data, length); }
    bool Close() override { return inner_->Close(); }
    bool CloseDurably() override { return inner_->CloseDurably(); }

protected:
    WritableFile& inner() const { return *inner_; }

private:
    std::unique_ptr<WritableFile> inner_;
};

}  // namespace qr
