// The file layer of a program that may be patched itself. When a file of the patch is the running
// program's own file, the running file is moved aside to "<name>.old" (Windows lets a running
// program's file be renamed, never replaced) and the new one takes its name; the next start removes
// the ".old". Every other operation goes to the inner file layer unchanged.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ForwardingFileSystem.h"

namespace qr {

inline constexpr char kMovedAsideSuffix[] = ".old";

class SelfReplacingFileSystem : public ForwardingFileSystem {
public:
    SelfReplacingFileSystem(FileSystem& inner, std::function<bool(const std::string&)> isRunningProgram)
        : ForwardingFileSystem(inner), isRunningProgram_(std::move(isRunningProgram)) {}

    bool Replace(const std::string& from, const std::string& to) override;

private:
    std::function<bool(const std::string&)> isRunningProgram_;
};

// The system's file layer for this process, able to replace the running program; lives as long as
// the process, so a worker that outlives its window may keep using it.
FileSystem& SelfReplacingSystemFileSystem();

// Removes the file that an earlier run of this program moved aside, if there is one.
void RemoveMovedAsideProgram();

}  // namespace qr
