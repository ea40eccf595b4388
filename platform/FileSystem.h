// The file operations the portable core needs, as one small interface so that tests can inject
// failures (short writes, full disks) and each platform supplies its own adaptor.
// Paths are narrow strings: code page 949 on Windows, raw bytes elsewhere. Both "\" and "/" are
// accepted as separators; relative paths resolve against the process's current directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qr {

class ReadableFile {
public:
    virtual ~ReadableFile() = default;
    virtual uint64_t Size() const = 0;
    // Reads up to `length` bytes at absolute `offset`; returns the count read (0 at or past the end,
    // or on error).
    virtual size_t ReadAt(uint64_t offset, void* buffer, size_t length) = 0;
};

class WritableFile {
public:
    virtual ~WritableFile() = default;
    // False when not every byte was written (disk full, I/O error).
    virtual bool Write(const void* data, size_t length) = 0;
    // Hands the last bytes to the system and closes; false when anything written could not be kept.
    // The bytes are on the disk once the file system's MakeDurable has returned true, not before:
    // a power cut earlier may lose them or leave the file torn.
    virtual bool Close() = 0;
    // Like Close, but on the disk when it returns true: for the few files that must survive on
    // their own, without waiting for the barrier.
    virtual bool CloseDurably() { return Close(); }
};

enum class MakeDirResult { Created, AlreadyExists, Failed };

struct DirectoryEntry {
    std::string name;  // without the directory
    bool isDirectory = false;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens an existing file for reading without sharing; null when it cannot be opened.
    virtual std::unique_ptr<ReadableFile> OpenRead(const std::string& path) = 0;
    // Creates the file, or truncates an existing one; null when it cannot be created.
    virtual std::unique_ptr<WritableFile> Create(const std::string& path) = 0;
    // Creates a temporary of ours afresh: whatever is left under its name (a file, or a link planted
    // there) is removed first, the link itself and never what it points to, and the file is then
    // created only if the name is free, never through a link. Null when that fails. Layers without
    // links of their own (fakes) may keep this default.
    virtual std::unique_ptr<WritableFile> CreateNew(const std::string& path) {
        Remove(path);
        return Create(path);
    }
    // Moves `from` over `to` in one step, replacing `to` if it exists; false when `to` is read-only.
    virtual bool Replace(const std::string& from, const std::string& to) = 0;
    virtual bool Remove(const std::string& path) = 0;
    virtual MakeDirResult MakeDirectory(const std::string& path) = 0;
    virtual bool IsDirectory(const std::string& path) = 0;
    virtual bool ChangeDirectory(const std::string& path) = 0;
    // The durable barrier: when it returns true, every file written and every move made through this
    // file system so far, under `dir` (the install directory), survives a power cut. False when the
    // system reported that something could not be written; nothing may then rely on those files.
    // By default the system's own barrier, so a layer over the system that does not forward it
    // still keeps the promise.
    virtual bool MakeDurable(const std::string& dir);
    // Opens an existing file for writing after its last byte (a resumed download); null when it
    // cannot be opened or the adaptor cannot append.
    virtual std::unique_ptr<WritableFile> OpenAppend(const std::string& /*path*/) { return nullptr; }
    // The entries of a directory without "." and ".."; false when it cannot be listed.
    virtual bool ListDirectory(const std::string& /*path*/, std::vector<DirectoryEntry>& /*out*/) { return false; }
};

// The real file system of the running platform.
FileSystem& SystemFileSystem();

// `path` made absolute against the current directory (unchanged when it already is): for a path that
// must keep its meaning after the current directory changes.
std::string AbsolutePath(const std::string& path);

inline bool FileSystem::MakeDurable(const std::string& dir) { return SystemFileSystem().MakeDurable(dir); }

}  // namespace qr
