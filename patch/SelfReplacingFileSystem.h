// The file layer of a program that may be patched itself. When a file of the patch is the running
// program's own file, the running file is moved aside to "<name>.old" (Windows lets a running
// program's file be renamed, never replaced) and the new one takes its name; the next start removes
// the ".old". Every other operation goes to the inner file layer unchanged.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/FileSystem.h"

namespace qr {

inline constexpr char kMovedAsideSuffix[] = ".old";

class SelfReplacingFileSystem : public FileSystem {
public:
    SelfReplacingFileSystem(FileSystem& inner, std::function<bool(const std::string&)> isRunningProgram)
        : inner_(inner), isRunningProgram_(std::move(isRunningProgram)) {}

    std::unique_ptr<ReadableFile> OpenRead(const std::string& path) override { return inner_.OpenRead(path); }
    std::unique_ptr<WritableFile> Create(const std::string& path) override { return inner_.Create(path); }
    bool Replace(const std::string& from, const std::string& to) override;
    bool Remove(const std::string& path) override { return inner_.Remove(path); }
    MakeDirResult MakeDirectory(const std::string& path) override { return inner_.MakeDirectory(path); }
    bool IsDirectory(const std::string& path) override { return inner_.IsDirectory(path); }
    bool ChangeDirectory(const std::string& path) override { return inner_.ChangeDirectory(path); }
    bool MakeDurable(const std::string& dir) override { return inner_.MakeDurable(dir); }
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override { return inner_.OpenAppend(path); }
    bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& out) override {
        return inner_.ListDirectory(path, out);
    }

private:
    FileSystem& inner_;
    std::function<bool(const std::string&)> isRunningProgram_;
};

// The system's file layer for this process, able to replace the running program; lives as long as
// the process, so a worker that outlives its window may keep using it.
FileSystem& SelfReplacingSystemFileSystem();

// Removes the file that an earlier run of this program moved aside, if there is one.
void RemoveMovedAsideProgram();

}  // namespace qr
