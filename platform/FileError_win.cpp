#include "platform/FileError.h"

#include <windows.h>

namespace qr {

FileFault ClassifySystemError(long code) {
    switch (static_cast<DWORD>(code)) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return FileFault::DiskFull;
        case ERROR_WRITE_PROTECT: return FileFault::ReadOnly;
        case ERROR_ACCESS_DENIED: return FileFault::AccessDenied;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE: return FileFault::InUse;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return FileFault::NotFound;
        default: return FileFault::Other;
    }
}

// The system's own wording would arrive in the user's language and code page; the number is what a
// support desk looks up.
std::string DescribeSystemError(long code) {
    const FileFault fault = ClassifySystemError(code);
    if (fault != FileFault::Other) return DescribeFileFault(fault);
    return "system error " + std::to_string(static_cast<unsigned long>(code));
}

}  // namespace qr
