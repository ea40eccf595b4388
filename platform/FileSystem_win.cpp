#include "platform/FileSystem.h"

#include <windows.h>

#include <mutex>
#include <set>

#include "platform/Cp949_win.h"
#include "platform/WriteGather.h"

namespace qr {
namespace {

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

class WinReadableFile : public ReadableFile {
public:
    WinReadableFile(HANDLE h, uint64_t size) : file_(h), size_(size) {}
    uint64_t Size() const override { return size_; }
    // Positioned reads (the offset travels in the OVERLAPPED record), so extraction threads may
    // read the same archive at once.
    size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < length) {
            const uint64_t at = offset + done;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            DWORD want = static_cast<DWORD>(length - done > 0x40000000 ? 0x40000000 : length - done);
            DWORD got = 0;
            if (!ReadFile(file_.get(), out + done, want, &got, &where) || got == 0) break;
            done += got;
        }
        return done;
    }

private:
    UniqueHandle file_;
    uint64_t size_;
};

class WinWritableFile : public WritableFile {
public:
    explicit WinWritableFile(HANDLE h)
        : file_(h), gather_([this](const char* data, size_t length) { return WriteAll(data, length); }) {}
    bool Write(const void* data, size_t length) override { return gather_.Write(data, length); }
    // No flush here: the file system's barrier flushes every written file before the version that
    // promises them is recorded.
    bool Close() override { return Finish(false); }
    bool CloseDurably() override { return Finish(true); }

private:
    bool Finish(bool durably) {
        if (!file_.valid()) return false;
        bool ok = gather_.Flush();
        if (durably) ok = FlushFileBuffers(file_.get()) != 0 && ok;
        return CloseHandle(file_.release()) != 0 && ok;
    }

    bool WriteAll(const char* in, size_t length) {
        while (length > 0) {
            DWORD chunk = static_cast<DWORD>(length > 0x40000000 ? 0x40000000 : length);
            DWORD put = 0;
            if (!WriteFile(file_.get(), in, chunk, &put, nullptr) || put == 0) return false;
            in += put;
            length -= put;
        }
        return true;
    }

    UniqueHandle file_;
    WriteGather gather_;
};

class WinFileSystem : public FileSystem {
public:
    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override {
        HANDLE h = CreateFileW(WidenCp949(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        LARGE_INTEGER size;
        if (!GetFileSizeEx(h, &size)) {
            CloseHandle(h);
            return nullptr;
        }
        return std::make_unique<WinReadableFile>(h, static_cast<uint64_t>(size.QuadPart));
    }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        HANDLE h = CreateFileW(WidenCp949(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        written_.Add(WidenCp949(path));
        return std::make_unique<WinWritableFile>(h);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        // Windows refuses to move over a read-only file, Wine does not: refused here on both.
        const DWORD target = GetFileAttributesW(WidenCp949(to).c_str());
        if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        const bool moved = MoveFileExW(WidenCp949(from).c_str(), WidenCp949(to).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        if (moved) written_.Move(WidenCp949(from), WidenCp949(to));
        return moved;
    }
    bool Remove(const std::string& path) override {
        const bool removed = DeleteFileW(WidenCp949(path).c_str()) != 0;
        if (removed) written_.Forget(WidenCp949(path));
        return removed;
    }
    MakeDirResult MakeDirectory(const std::string& path) override {
        if (CreateDirectoryW(WidenCp949(path).c_str(), nullptr)) return MakeDirResult::Created;
        return GetLastError() == ERROR_ALREADY_EXISTS ? MakeDirResult::AlreadyExists : MakeDirResult::Failed;
    }
    bool IsDirectory(const std::string& path) override {
        DWORD attributes = GetFileAttributesW(WidenCp949(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    bool ChangeDirectory(const std::string& path) override {
        return SetCurrentDirectoryW(WidenCp949(path).c_str()) != 0;
    }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override {
        UniqueHandle h(CreateFileW(WidenCp949(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) return nullptr;
        LARGE_INTEGER zero{};
        if (!SetFilePointerEx(h.get(), zero, nullptr, FILE_END)) return nullptr;
        written_.Add(WidenCp949(path));  // the barrier must cover the resumed bytes too
        return std::make_unique<WinWritableFile>(h.release());
    }
    bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
        std::wstring pattern = WidenCp949(path);
        if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
        pattern += L'*';
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
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
    // is not relied on.
    bool MakeDurable(const std::string& dir) override {
        (void)dir;
        bool ok = true;
        for (const std::wstring& path : written_.Take()) {
            HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                // A file removed or moved by someone else since is no longer ours to promise.
                const DWORD error = GetLastError();
                if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ok = false;
                continue;
            }
            ok = FlushFileBuffers(h) != 0 && ok;
            CloseHandle(h);
        }
        return ok;
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

FileSystem& SystemFileSystem() {
    static WinFileSystem fileSystem;
    return fileSystem;
}

}  // namespace qr
