// One patch run per install directory. A launcher or quorvel-patch holds the install directory's
// lock for as long as it may write there; the system gives it up when the process ends, however it
// ends. Windows: a named mutex; elsewhere: an flock on a file in the install directory.
#pragma once

#include <memory>
#include <string>

namespace qr {

class InstallLock {
public:
    virtual ~InstallLock() = default;
};

enum class InstallLockStatus {
    Acquired,       // this process holds the lock
    HeldElsewhere,  // another running process holds it
    Unavailable     // no lock could be made (a directory without write access); the run goes on unguarded
};

struct InstallLockResult {
    InstallLockStatus status = InstallLockStatus::Unavailable;
    std::unique_ptr<InstallLock> lock;  // set only when Acquired
};

// Tries once, without waiting. `installDir` may end in a separator; empty means the current directory.
// Different spellings of one directory (case and separators on Windows, a trailing separator,
// relative forms) share one lock.
InstallLockResult TryLockInstall(const std::string& installDir);

// The name this install directory's lock goes by; the same in every process (Windows: the part of
// the mutex name after its namespace, also usable to mark the window of the run that holds it;
// elsewhere: the lock file's path).
std::string InstallLockName(const std::string& installDir);

}  // namespace qr
