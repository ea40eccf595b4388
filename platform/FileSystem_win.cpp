#include "platform/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/Cp949_win.h"
#include "platform/FileError.h"
#include "platform/WriteGather.h"

namespace qr {
namespace {

constexpr size_t kDurableFlushThreads = 8;
constexpr size_t kFilesPerFlushThread = 16;

// Records the thread's last error for `path`. Access refused on a file with the read-only attribute
// is that attribute, which is what the player can see and change.
void RecordLastError(const char* call, const std::string& path, DWORD code = GetLastError()) {
    if (code == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(WidenCp949(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            RecordFileError(FileFault::ReadOnly, static_cast<long>(code), call, path);
            return;
        }
    }
    RecordSystemError(static_cast<long>(code), call, path);
}

// Fails the call with the thread's last error recorded for `path`.
template <typename T>
T Failed(const char* call, const std::string& path, T result) {
    RecordLastError(call, path);
    return result;
}

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE h) : handle_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void reset() {
        if (valid()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    HANDLE release() {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return h;
    }

private:
    HANDLE handle_;
};

// Flushes one written file by its full name; ERROR_SUCCESS also for a file removed or moved by
// someone else since, which is no longer ours to promise.
DWORD FlushByName(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    return FlushFileBuffers(file.get()) ? ERROR_SUCCESS : GetLastError();
}

class WinReadableFile : public ReadableFile {
public:
    WinReadableFile(HANDLE h, uint64_t size, std::string path) : file_(h), size_(size), path_(std::move(path)) {}
    uint64_t Size() const override { return size_; }
    // Positioned reads (the offset travels in the OVERLAPPED record), so extraction threads may
    // read the same archive at once.
    size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
        ClearFileError();
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < length) {
            const uint64_t at = offset + done;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD want = static_cast<DWORD>(length - done > 0x40000000 ? 0x40000000 : length - done);
            DWORD got = 0;
            if (!ReadFile(file_.get(), out + done, want, &got, &where)) {
                if (GetLastError() != ERROR_HANDLE_EOF) RecordLastError("read", path_);
                break;
            }
            if (got == 0) break;
            done += got;
        }
        return done;
    }

private:
    UniqueHandle file_;
    uint64_t size_;
    std::string path_;
};

class WinWritableFile : public WritableFile {
public:
    WinWritableFile(HANDLE h, std::string path)
        : file_(h), path_(std::move(path)),
          gather_([this](const char* data, size_t length) { return WriteAll(data, length); }) {}
    bool Write(const void* data, size_t length) override {
        ClearFileError();
        if (gather_.Write(data, length)) return true;
        RecordLastError("write", path_, error_);
        return false;
    }
    // No flush here: the file system's barrier flushes every written file before the version that
    // promises them is recorded.
    bool Close() override { return Finish(false); }
    bool CloseDurably() override { return Finish(true); }

private:
    // The first failure is the one reported: later calls on a failed file only repeat it.
    bool Finish(bool durably) {
        ClearFileError();
        if (!file_.valid()) return false;
        bool ok = gather_.Flush();
        if (durably && !FlushFileBuffers(file_.get())) ok = Remember(GetLastError());
        if (!CloseHandle(file_.release())) ok = Remember(GetLastError());
        if (!ok) RecordLastError("close", path_, error_);
        return ok;
    }
    bool Remember(DWORD code) {
        if (error_ == 0) error_ = code;
        return false;
    }

    bool WriteAll(const char* in, size_t length) {
        while (length > 0) {
            DWORD chunk = static_cast<DWORD>(length > 0x40000000 ? 0x40000000 : length);
            DWORD put = 0;
            if (!WriteFile(file_.get(), in, chunk, &put, nullptr)) return Remember(GetLastError());
            if (put == 0) return Remember(ERROR_DISK_FULL);
            in += put;
            length -= put;
        }
        return true;
    }

    UniqueHandle file_;
    std::string path_;
    DWORD error_ = 0;
    WriteGather gather_;
};

class WinFileSystem : public FileSystem {
public:
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        ClearFileError();
        HANDLE h = CreateFileW(WidenCp949(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Failed("open", path, nullptr);
        LARGE_INTEGER size;
        if (!GetFileSizeEx(h, &size)) {
            RecordLastError("open", path);
            CloseHandle(h);
            return nullptr;
        }
        return std::make_unique<WinReadableFile>(h, static_cast<uint64_t>(size.QuadPart), path);
    }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        ClearFileError();
        HANDLE h = CreateFileW(WidenCp949(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Failed("create", path, nullptr);
        written_.Add(WidenCp949(path));
        return std::make_unique<WinWritableFile>(h, path);
    }
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override {
        ClearFileError();
        const std::wstring wide = WidenCp949(path);
        // DeleteFileW removes a symbolic link itself; a reparse point that cannot be removed so
        // (a junction) keeps the name taken and CREATE_NEW refuses it.
        if (!DeleteFileW(wide.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
            GetLastError() != ERROR_PATH_NOT_FOUND)
            return Failed("create", path, nullptr);
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Failed("create", path, nullptr);
        written_.Add(wide);
        return std::make_unique<WinWritableFile>(h, path);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        ClearFileError();
        // Windows refuses to move over a read-only file, Wine does not: refused here on both.
        const DWORD target = GetFileAttributesW(WidenCp949(to).c_str());
        if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return Failed("replace", to, false);
        }
        if (!MoveFileExW(WidenCp949(from).c_str(), WidenCp949(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            // Whichever side is missing is the one to name.
            return Failed("replace", GetLastError() == ERROR_FILE_NOT_FOUND ? from : to, false);
        }
        written_.Move(WidenCp949(from), WidenCp949(to));
        return true;
    }
    bool Remove(const std::string& path) override {
        ClearFileError();
        if (!DeleteFileW(WidenCp949(path).c_str())) return Failed("remove", path, false);
        written_.Forget(WidenCp949(path));
        return true;
    }
    MakeDirResult MakeDirectory(const std::string& path) override {
        ClearFileError();
        if (CreateDirectoryW(WidenCp949(path).c_str(), nullptr)) return MakeDirResult::Created;
        if (GetLastError() == ERROR_ALREADY_EXISTS) return MakeDirResult::AlreadyExists;
        return Failed("make directory", path, MakeDirResult::Failed);
    }
    bool IsDirectory(const std::string& path) override {
        ClearFileError();
        DWORD attributes = GetFileAttributesW(WidenCp949(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    bool ChangeDirectory(const std::string& path) override {
        ClearFileError();
        return SetCurrentDirectoryW(WidenCp949(path).c_str()) != 0 || Failed("change directory", path, false);
    }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override {
        ClearFileError();
        UniqueHandle h(CreateFileW(WidenCp949(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) return Failed("append", path, nullptr);
        LARGE_INTEGER zero{};
        if (!SetFilePointerEx(h.get(), zero, nullptr, FILE_END)) return Failed("append", path, nullptr);
        written_.Add(WidenCp949(path));  // the barrier must cover the resumed bytes too
        return std::make_unique<WinWritableFile>(h.release(), path);
    }
    bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
        ClearFileError();
        std::wstring pattern = WidenCp949(path);
        if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
        pattern += L'*';
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND || Failed("list", path, false);
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            // Reparse points (junctions, links) are not walked into.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            out.push_back({NarrowCp949(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return true;
    }
    // FlushFileBuffers of every file written since the last barrier, reopened by its full name.
    // Safe: the data and the file's own metadata are then on the disk, and each move was already
    // written through, so a recorded version only ever promises whole files. A flush of the whole
    // volume (one call, elevated only) is documented for open files, and these are closed, so it
    // is not relied on. Several flushes run at once: each waits for the disk, and a disk completes
    // a batch of them about as fast as one.
    bool MakeDurable(const std::string& dir) override {
        (void)dir;
        ClearFileError();
        const std::set<std::wstring> taken = written_.Take();
        const std::vector<std::wstring> paths(taken.begin(), taken.end());
        std::atomic<size_t> next{0};
        std::mutex failureMutex;
        DWORD failure = ERROR_SUCCESS;
        std::wstring failedPath;
        const auto flushSome = [&] {
            for (size_t i; (i = next++) < paths.size();) {
                const DWORD error = FlushByName(paths[i]);
                if (error == ERROR_SUCCESS) continue;
                std::lock_guard<std::mutex> lock(failureMutex);
                if (failure == ERROR_SUCCESS) {
                    failure = error;
                    failedPath = paths[i];
                }
            }
        };
        const size_t threads = std::min(kDurableFlushThreads, paths.size() / kFilesPerFlushThread + 1);
        std::vector<std::thread> helpers;
        for (size_t t = 1; t < threads; ++t) helpers.emplace_back(flushSome);
        flushSome();
        for (std::thread& helper : helpers) helper.join();
        if (failure == ERROR_SUCCESS) return true;
        RecordSystemError(static_cast<long>(failure), "make durable", NarrowCp949(failedPath));
        return false;
    }

private:
    // Full names of the files written and not yet flushed; the current directory changes during a
    // run, so relative names are resolved when they are recorded.
    class WrittenFiles {
    public:
        void Add(const std::wstring& path) {
            std::wstring full = FullName(path);
            std::lock_guard<std::mutex> lock(mutex_);
            files_.insert(std::move(full));
        }
        void Move(const std::wstring& from, const std::wstring& to) {
            std::wstring fullFrom = FullName(from), fullTo = FullName(to);
            std::lock_guard<std::mutex> lock(mutex_);
            // Only what was written here is ours to flush (not, say, a running program moved aside).
            if (files_.erase(fullFrom) == 0) return;
            files_.insert(std::move(fullTo));
        }
        void Forget(const std::wstring& path) {
            std::wstring full = FullName(path);
            std::lock_guard<std::mutex> lock(mutex_);
            files_.erase(full);
        }
        std::set<std::wstring> Take() {
            std::set<std::wstring> taken;
            std::lock_guard<std::mutex> lock(mutex_);
            taken.swap(files_);
            return taken;
        }

    private:
        static std::wstring FullName(const std::wstring& path) {
            wchar_t buffer[MAX_PATH * 2];
            DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
            if (length == 0 || length >= MAX_PATH * 2) return path;
            // Windows names ignore case: one entry per file.
            CharLowerBuffW(buffer, length);
            return std::wstring(buffer, length);
        }

        std::mutex mutex_;
        std::set<std::wstring> files_;
    };

    WrittenFiles written_;
};

}  // namespace

std::string AbsolutePath(const std::string& path) {
    const std::wstring wide = WidenCp949(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
    if (written == 0 || written >= needed) return path;
    full.resize(written);
    return NarrowCp949(full);
}

FileSystem& SystemFileSystem() {
    static WinFileSystem fileSystem;
    return fileSystem;
}

}  // namespace qr
