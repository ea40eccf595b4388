#include "platform/RunningProgram.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace qr {
namespace {

struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        id.known = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
    }
    return id;
}

std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

}  // namespace

std::string RunningProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

bool IsRunningProgramFile(const std::string& path) {
    // Taken once: the running file keeps its identity whatever it is later called.
    // By the name the kernel reports first: under a user-mode emulator (the 32-bit tests run under
    // qemu) /proc/self/exe itself is the emulator. A file deleted since has no name left.
    static const FileIdentity program = [] {
        const FileIdentity named = IdentityOf(RunningProgramPath());
        return named.known ? named : IdentityOf("/proc/self/exe");
    }();
    if (!program.known) return false;
    const FileIdentity other = IdentityOf(NativePath(path));
    return other.known && other.device == program.device && other.inode == program.inode;
}

}  // namespace qr
