// A file system decorator for extraction tests: it logs every call, lets a test fail creation,
// replacement or writing (a full disk) of chosen paths, and calls back when files are created. A
// refusal records its cause as the system would (a full disk, a missing directory).
// Changes to paths that could leave the current directory are logged but never carried out, so a
// broken name check fails its test instead of writing outside the scratch directory.
// Extraction calls it from several threads: every record is taken under one lock.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FileError.h"
#include "platform/ForwardingFileSystem.h"

namespace qr::test {

class FaultyFileSystem : public ForwardingFileSystem {
public:
    explicit FaultyFileSystem(FileSystem& real = SystemFileSystem()) : ForwardingFileSystem(real) {}

    std::vector<std::string> calls;       // "open x", "create x", "replace x > y", "remove x", "mkdir x"
    std::vector<size_t> writeSizes;       // every Write, in order
    std::map<std::string, std::vector<size_t>> writeSizesByPath;  // every Write of each created path
    int durableBarriers = 0;              // MakeDurable calls
    std::set<std::string> failCreate;     // paths whose Create fails (its directory is missing)
    std::set<std::string> failReplace;    // targets whose Replace fails (another program holds them)
    std::set<std::string> failMkdir;      // directories that cannot be made
    std::map<std::string, size_t> diskRoom;  // path -> bytes that fit before writes fail
    std::function<void(const std::string&)> onCreate;
    std::function<void()> onWrite;

    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        Record("open " + path);
        return inner().OpenRead(path);
    }
    // A fresh temporary is created here as any other file, so that its faults apply to it too.
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override { return Create(path); }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        std::unique_lock<std::recursive_mutex> lock(mutex_);
        calls.push_back("create " + path);
        if (onCreate) onCreate(path);
        if (failCreate.count(path) || MayEscape(path)) return Refused(FileFault::NotFound, "create", path, nullptr);
        const size_t room = diskRoom.count(path) ? diskRoom[path] : SIZE_MAX;
        lock.unlock();
        std::unique_ptr<WritableFile> file = inner().Create(path);
        if (!file) return nullptr;
        return std::make_unique<File>(*this, std::move(file), room, path);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        std::unique_lock<std::recursive_mutex> lock(mutex_);
        calls.push_back("replace " + from + " > " + to);
        if (failReplace.count(to) || MayEscape(from) || MayEscape(to)) return Refused(FileFault::InUse, "replace", to, false);
        lock.unlock();
        return inner().Replace(from, to);
    }
    bool Remove(const std::string& path) override {
        Record("remove " + path);
        return !MayEscape(path) && inner().Remove(path);
    }
    MakeDirResult MakeDirectory(const std::string& path) override {
        std::unique_lock<std::recursive_mutex> lock(mutex_);
        calls.push_back("mkdir " + path);
        if (failMkdir.count(path) || MayEscape(path))
            return Refused(FileFault::AccessDenied, "make directory", path, MakeDirResult::Failed);
        lock.unlock();
        return inner().MakeDirectory(path);
    }
    bool MakeDurable(const std::string& dir) override {
        Record("durable " + dir);
        {
            std::lock_guard<std::recursive_mutex> lock(mutex_);
            durableBarriers += 1;
        }
        return inner().MakeDurable(dir);
    }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override {
        Record("append " + path);
        if (MayEscape(path)) return Refused(FileFault::AccessDenied, "append", path, nullptr);
        return inner().OpenAppend(path);
    }

    // Calls whose text mentions `fragment`.
    std::vector<std::string> CallsMentioning(const std::string& fragment) const {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        std::vector<std::string> hits;
        for (const auto& c : calls)
            if (c.find(fragment) != std::string::npos) hits.push_back(c);
        return hits;
    }

private:
    template <typename T>
    static T Refused(FileFault fault, const char* call, const std::string& path, T result) {
        RecordFileError(fault, 0, call, path);
        return result;
    }
    void Record(std::string call) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        calls.push_back(std::move(call));
    }
    static bool MayEscape(const std::string& path) {
        if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos) return true;
        std::string component;
        for (size_t i = 0; i <= path.size(); ++i) {
            if (i == path.size() || path[i] == '/' || path[i] == '\\') {
                if (component == "..") return true;
                component.clear();
            } else {
                component += path[i];
            }
        }
        return false;
    }

    class File : public WritableFile {
    public:
        File(FaultyFileSystem& owner, std::unique_ptr<WritableFile> real, size_t room, std::string path)
            : owner_(owner), real_(std::move(real)), room_(room), path_(std::move(path)) {}
        bool Write(const void* data, size_t length) override {
            {
                std::lock_guard<std::recursive_mutex> lock(owner_.mutex_);
                owner_.writeSizes.push_back(length);
                owner_.writeSizesByPath[path_].push_back(length);
                if (owner_.onWrite) owner_.onWrite();
            }
            if (length > room_) {
                real_->Write(data, room_);  // a full disk takes what fits, then refuses
                room_ = 0;
                RecordFileError(FileFault::DiskFull, 0, "write", path_);
                return false;
            }
            room_ -= length;
            return real_->Write(data, length);
        }
        bool Close() override { return real_->Close(); }
        bool CloseDurably() override { return real_->CloseDurably(); }

    private:
        FaultyFileSystem& owner_;
        std::unique_ptr<WritableFile> real_;
        size_t room_;
        std::string path_;
    };

    mutable std::recursive_mutex mutex_;
};

}  // namespace qr::test
