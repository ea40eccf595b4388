#include "platform/FileSystem.h"

#include <windows.h>

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
    size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
        LARGE_INTEGER pos;
        pos.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(file_.get(), pos, nullptr, FILE_BEGIN)) return 0;
        size_t done = 0;
        auto* out = static_cast<char*>(buffer);
        while (done < length) {
            DWORD want = static_cast<DWORD>(length - done > 0x40000000 ? 0x40000000 : length - done);
            DWORD got = 0;
            if (!ReadFile(file_.get(), out + done, want, &got, nullptr) || got == 0) break;
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
    bool Close() override {
        if (!file_.valid()) return false;
        bool ok = gather_.Flush();
        // On the disk before the file is moved over a game file.
        ok = FlushFileBuffers(file_.get()) != 0 && ok;
        return CloseHandle(file_.release()) != 0 && ok;
    }

private:
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
        return std::make_unique<WinWritableFile>(h);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        return MoveFileExW(WidenCp949(from).c_str(), WidenCp949(to).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    bool Remove(const std::string& path) override { return DeleteFileW(WidenCp949(path).c_str()) != 0; }
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
};

}  // namespace

FileSystem& SystemFileSystem() {
    static WinFileSystem fileSystem;
    return fileSystem;
}

}  // namespace qr
