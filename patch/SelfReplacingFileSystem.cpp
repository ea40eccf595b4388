#include "patch/SelfReplacingFileSystem.h"

#include "platform/FileError.h"
#include "platform/RunningProgram.h"

namespace qr {

bool SelfReplacingFileSystem::Replace(const std::string& from, const std::string& to) {
    if (!isRunningProgram_ || !isRunningProgram_(to)) return inner().Replace(from, to);
    const std::string aside = to + kMovedAsideSuffix;
    inner().Remove(aside);  // left by an earlier update whose program has ended
    if (!inner().Replace(to, aside)) return false;
    if (inner().Replace(from, to)) return true;
    // The new file could not take the name: the running program keeps it, and the caller learns
    // why the move failed, not how the restore went.
    const FileError cause = LastFileError();
    inner().Replace(aside, to);
    RecordFileError(cause.fault, cause.code, "replace", cause.path);
    return false;
}

FileSystem& SelfReplacingSystemFileSystem() {
    static SelfReplacingFileSystem fileSystem(SystemFileSystem(), IsRunningProgramFile);
    return fileSystem;
}

void RemoveMovedAsideProgram() {
    const std::string program = RunningProgramPath();
    if (!program.empty()) SystemFileSystem().Remove(program + kMovedAsideSuffix);
}

}  // namespace qr
