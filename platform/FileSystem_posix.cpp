#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/WriteGather.h"

namespace qr {
namespace {

static_assert(sizeof(off_t) >= 8, "archives and downloads past 2 GiB need 64-bit file offsets");

// Names from the patch server and from archives may use either separator; here only "/" separates.
std::string NativePath(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    int release() { int fd = fd_; fd_ = -1; return fd; }
    void reset() { if (fd_ >= 0) ::close(fd_); fd_ = -1; }

private:
    int fd_;
};

class PosixReadableFile : public ReadableFile {
public:
    PosixReadableFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        // Beyond what off_t can hold there is nothing to read (and the cast would wrap).
        if (offset > static_cast<uint64_t>(INT64_MAX) - length) return 0;
        while (done < length) {
            ssize_t got = ::pread(fd_.get(), out + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        return done;
    }

private:
    UniqueFd fd_;
    uint64_t size_;
};

class PosixWritableFile : public WritableFile {
public:
    explicit PosixWritableFile(int fd)
        : fd_(fd), gather_([this](const char* data, size_t length) { return WriteAll(data, length); }) {}
    bool Write(const void* data, size_t length) override { return gather_.Write(data, length); }
    // No flush here: the worker's one barrier (MakeDurable) makes every file durable before the
    // version that promises them is recorded, which is all a power cut needs.
    bool Close() override { return Finish(false); }
    bool CloseDurably() override { return Finish(true); }

private:
    bool Finish(bool durably) {
        if (fd_.get() < 0) return false;
        bool ok = gather_.Flush();
        if (durably) ok = (::fsync(fd_.get()) == 0 || errno == EINVAL) && ok;
        ok = (::close(fd_.release()) == 0) && ok;
        return ok;
    }
    bool WriteAll(const char* in, size_t length) {
        while (length > 0) {
            ssize_t put = ::write(fd_.get(), in, length);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            in += put;
            length -= static_cast<size_t>(put);
        }
        return true;
    }

    UniqueFd fd_;
    WriteGather gather_;
};

class PosixFileSystem : public FileSystem {
public:
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        UniqueFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) return nullptr;
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        return std::make_unique<PosixReadableFile>(fd.release(), static_cast<uint64_t>(st.st_size));
    }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return nullptr;
        return std::make_unique<PosixWritableFile>(fd);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        // A read-only game file is refused as Windows refuses it, by its mode bits (access() would
        // let root through).
        struct stat target {};
        if (::stat(NativePath(to).c_str(), &target) == 0) {
            if ((target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
                errno = EACCES;
                return false;
            }
            // The new file keeps the permissions of the one it replaces (a program stays executable).
            if (S_ISREG(target.st_mode)) ::chmod(NativePath(from).c_str(), target.st_mode & 07777);
        }
        return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
    }
    bool Remove(const std::string& path) override { return ::unlink(NativePath(path).c_str()) == 0; }
    MakeDirResult MakeDirectory(const std::string& path) override {
        if (::mkdir(NativePath(path).c_str(), 0755) == 0) return MakeDirResult::Created;
        return errno == EEXIST ? MakeDirResult::AlreadyExists : MakeDirResult::Failed;
    }
    bool IsDirectory(const std::string& path) override {
        struct stat st {};
        return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool ChangeDirectory(const std::string& path) override {
        return ::chdir(NativePath(path).c_str()) == 0;
    }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override {
        UniqueFd fd(::open(NativePath(path).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (fd.get() < 0) return nullptr;
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
        return std::make_unique<PosixWritableFile>(fd.release());
    }
    bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
        const std::string dirPath = NativePath(path);
        DIR* dir = ::opendir(dirPath.c_str());
        if (!dir) return false;
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            // Links are not followed into: a link never leads the walk outside the install directory.
            if (::lstat((dirPath + "/" + name).c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) out.push_back({name, S_ISDIR(st.st_mode)});
        }
        ::closedir(dir);
        return true;
    }
    // One syncfs of the install directory's file system: its data, inodes and the directory entries
    // of every rename, in one journal commit. Measured faster than an fsync of each written file
    // and of each directory at the end, which costs one commit per file.
    bool MakeDurable(const std::string& dir) override {
        UniqueFd fd(::open(NativePath(dir.empty() ? "." : dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0) return false;
        if (::syncfs(fd.get()) == 0) return true;
        if (errno != ENOSYS) return false;
        ::sync();
        return true;
    }
};

}  // namespace

FileSystem& SystemFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

}  // namespace qr
