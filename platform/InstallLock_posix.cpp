#include "platform/InstallLock.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qr {
namespace {

constexpr char kLockFileName[] = ".quorvel-patch.lock";

std::string Directory(const std::string& installDir) {
    std::string dir = installDir.empty() ? std::string(".") : installDir;
    for (char& c : dir)
        if (c == '\\') c = '/';
    char resolved[PATH_MAX];
    if (::realpath(dir.c_str(), resolved)) dir = resolved;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

// The file is removed when the lock is given up, so a finished run leaves nothing in the install
// directory; a process that opened it just before still notices (its inode is no longer the path's).
class FileInstallLock : public InstallLock {
public:
    FileInstallLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~FileInstallLock() override {
        ::unlink(path_.c_str());
        ::close(fd_);
    }

private:
    int fd_;
    std::string path_;
};

bool StillThePathsFile(int fd, const std::string& path) {
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

}  // namespace

std::string InstallLockName(const std::string& installDir) {
    const std::string dir = Directory(installDir);
    return (dir == "/" ? dir : dir + "/") + kLockFileName;
}

InstallLockResult TryLockInstall(const std::string& installDir) {
    const std::string path = InstallLockName(installDir);
    InstallLockResult result;
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return result;  // Unavailable
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool held = errno == EWOULDBLOCK;
            ::close(fd);
            result.status = held ? InstallLockStatus::HeldElsewhere : InstallLockStatus::Unavailable;
            return result;
        }
        if (StillThePathsFile(fd, path)) {
            result.status = InstallLockStatus::Acquired;
            result.lock = std::make_unique<FileInstallLock>(fd, path);
            return result;
        }
        ::close(fd);  // the previous holder removed it meanwhile: take the new one
    }
    return result;
}

}  // namespace qr
