#include "patch/SelfReplacingFileSystem.h"

#include "platform/RunningProgram.h"

namespace qr {

bool SelfReplacingFileSystem::Replace(const std::string& from, const std::string& to) {
    if (!isRunningProgram_ || !isRunningProgram_(to)) return inner_.Replace(from, to);
    const std::string aside = to + kMovedAsideSuffix;
    inner_.Remove(aside);  // left by an earlier update whose program has ended
    if (!inner_.Replace(to, aside)) return false;
    if (inner_.Replace(from, to)) return true;
    // The new file could not take the name: the running program keeps it.
    inner_.Replace(aside, to);
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
