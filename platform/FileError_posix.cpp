#include "platform/FileError.h"

#include <cerrno>
#include <cstring>

namespace qr {

FileFault ClassifySystemError(long code) {
    switch (code) {
        case ENOSPC:
        case EDQUOT: return FileFault::DiskFull;
        case EROFS: return FileFault::ReadOnly;
        case EACCES:
        case EPERM: return FileFault::AccessDenied;
        case ETXTBSY:
        case EBUSY: return FileFault::InUse;
        case ENOENT:
        case ENOTDIR: return FileFault::NotFound;
        default: return FileFault::Other;
    }
}

std::string DescribeSystemError(long code) {
    const FileFault fault = ClassifySystemError(code);
    if (fault != FileFault::Other) return DescribeFileFault(fault);
    return std::string(std::strerror(static_cast<int>(code))) + " (errno " + std::to_string(code) + ")";
}

}  // namespace qr
