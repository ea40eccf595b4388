#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/FileError.h"
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

// Records errno for `path`. Permission refused on a file without write bits is its read-only mode,
// which is what the player can see and change.
void RecordErrno(const char* call, const std::string& path) {
    const int code = errno;
    struct stat st {};
    if ((code == EACCES || code == EPERM) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        RecordFileError(FileFault::ReadOnly, code, call, path);
        return;
    }
    RecordSystemError(code, call, path);
}

// Fails the call with errno recorded for `path`.
template <typename T>
T Failed(const char* call, const std::string& path, T result) {
    RecordErrno(call, path);
    return result;
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
    PosixReadableFile(int fd, uint64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
        ClearFileError();
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        // Beyond what off_t can hold there is nothing to read (and the cast would wrap).
        if (offset > static_cast<uint64_t>(INT64_MAX) - length) return 0;
        while (done < length) {
            ssize_t got = ::pread(fd_.get(), out + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) RecordErrno("read", path_);
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        return done;
    }

private:
    UniqueFd fd_;
    uint64_t size_;
    std::string path_;
};

class PosixWritableFile : public WritableFile {
public:
    PosixWritableFile(int fd, std::string path)
        : fd_(fd), path_(std::move(path)),
          gather_([this](const char* data, size_t length) { return WriteAll(data, length); }) {}
    bool Write(const void* data, size_t length) override {
        ClearFileError();
        if (gather_.Write(data, length)) return true;
        RecordFileError(ClassifySystemError(error_), error_, "write", path_);
        return false;
    }
    // No flush here: the worker's one barrier (MakeDurable) makes every file durable before the
    // version that promises them is recorded, which is all a power cut needs.
    bool Close() override { return Finish(false); }
    bool CloseDurably() override { return Finish(true); }

private:
    // The first failure is the one reported: later calls on a failed file only repeat it.
    bool Finish(bool durably) {
        ClearFileError();
        if (fd_.get() < 0) return false;
        bool ok = gather_.Flush();
        if (durably && ::fsync(fd_.get()) != 0 && errno != EINVAL) ok = Remember(errno);
        if (::close(fd_.release()) != 0) ok = Remember(errno);
        if (!ok) RecordFileError(ClassifySystemError(error_), error_, "close", path_);
        return ok;
    }
    bool Remember(int code) {
        if (error_ == 0) error_ = code;
        return false;
    }
    bool WriteAll(const char* in, size_t length) {
        while (length > 0) {
            ssize_t put = ::write(fd_.get(), in, length);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return Remember(put < 0 ? errno : ENOSPC);
            in += put;
            length -= static_cast<size_t>(put);
        }
        return true;
    }

    UniqueFd fd_;
    std::string path_;
    int error_ = 0;
    WriteGather gather_;
};

class PosixFileSystem : public FileSystem {
public:
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        ClearFileError();
        const std::string native = NativePath(path);
        UniqueFd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) return Failed("open", native, nullptr);
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return Failed("open", native, nullptr);
        if (!S_ISREG(st.st_mode)) {
            RecordSystemError(EISDIR, "open", native);
            return nullptr;
        }
        return std::make_unique<PosixReadableFile>(fd.release(), static_cast<uint64_t>(st.st_size), native);
    }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        ClearFileError();
        const std::string native = NativePath(path);
        int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return Failed("create", native, nullptr);
        return std::make_unique<PosixWritableFile>(fd, native);
    }
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
        ClearFileError();
        const std::string native = NativePath(path);
        // unlink removes a link itself; a name planted again in between makes the open fail.
        if (::unlink(native.c_str()) != 0 && errno != ENOENT) return Failed("create", native, nullptr);
        int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) return Failed("create", native, nullptr);
        return std::make_unique<PosixWritableFile>(fd, native);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        // A read-only game file is refused as Windows refuses it, by its mode bits (access() would
        // let root through).
        ClearFileError();
        struct stat target {};
        if (::stat(NativePath(to).c_str(), &target) == 0) {
            if ((target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
                errno = EACCES;
                RecordFileError(FileFault::ReadOnly, EACCES, "replace", NativePath(to));
                return false;
            }
            // The new file keeps the permissions of the one it replaces (a program stays executable).
            if (S_ISREG(target.st_mode)) ::chmod(NativePath(from).c_str(), target.st_mode & 07777);
        }
        if (::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0) return true;
        // Whichever side is missing is the one to name.
        return Failed("replace", errno == ENOENT ? NativePath(from) : NativePath(to), false);
    }
    bool Remove(const std::string& path) override {
        ClearFileError();
        return ::unlink(NativePath(path).c_str()) == 0 || Failed("remove", NativePath(path), false);
    }
    MakeDirResult MakeDirectory(const std::string& path) override {
        ClearFileError();
        if (::mkdir(NativePath(path).c_str(), 0755) == 0) return MakeDirResult::Created;
        if (errno == EEXIST) return MakeDirResult::AlreadyExists;
        return Failed("make directory", NativePath(path), MakeDirResult::Failed);
    }
    bool IsDirectory(const std::string& path) override {
        ClearFileError();
        struct stat st {};
        return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool ChangeDirectory(const std::string& path) override {
        ClearFileError();
        return ::chdir(NativePath(path).c_str()) == 0 || Failed("change directory", NativePath(path), false);
    }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override {
        ClearFileError();
        const std::string native = NativePath(path);
        // Kept bytes are ours: a link planted in their place is not followed.
        UniqueFd fd(::open(native.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0) return Failed("append", native, nullptr);
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return Failed("append", native, nullptr);
        if (!S_ISREG(st.st_mode)) {
            RecordSystemError(EISDIR, "append", native);
            return nullptr;
        }
        return std::make_unique<PosixWritableFile>(fd.release(), native);
    }
    bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
        ClearFileError();
        const std::string dirPath = NativePath(path);
        DIR* dir = ::opendir(dirPath.c_str());
        if (!dir) return Failed("list", dirPath, false);
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
        ClearFileError();
        const std::string native = NativePath(dir.empty() ? "." : dir);
        UniqueFd fd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.get() < 0) return Failed("make durable", native, false);
        if (::syncfs(fd.get()) == 0) return true;
        if (errno != ENOSYS) return Failed("make durable", native, false);
        ::sync();
        return true;
    }
};

}  // namespace

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::vector<char> dir(4096);
    while (!::getcwd(dir.data(), dir.size())) {
        if (errno != ERANGE) return path;
        dir.resize(dir.size() * 2);
    }
    return std::string(dir.data()) + "/" + path;
}

FileSystem& SystemFileSystem() {
    static PosixFileSystem fileSystem;
    return fileSystem;
}

}  // namespace qr
