#include "platform/FileError.h"

#include <cstring>

namespace qr {
namespace {

// Kept trivially destructible: a thread-local with a destructor is not safe in every static
// Windows runtime. Paths longer than this are cut; the message only needs to recognise them.
struct Record {
    FileFault fault;
    long code;
    const char* call;
    size_t pathLength;
    char path[1024];
};

thread_local Record t_last{FileFault::None, 0, "", 0, {}};

}  // namespace

FileError LastFileError() {
    FileError error;
    error.fault = t_last.fault;
    if (error.fault == FileFault::None) return error;
    error.code = t_last.code;
    error.call = t_last.call;
    error.path.assign(t_last.path, t_last.pathLength);
    return error;
}

void ClearFileError() { t_last.fault = FileFault::None; }

void RecordFileError(FileFault fault, long code, const char* call, const std::string& path) {
    t_last.fault = fault;
    t_last.code = code;
    t_last.call = call;
    t_last.pathLength = path.size() < sizeof t_last.path ? path.size() : sizeof t_last.path;
    std::memcpy(t_last.path, path.data(), t_last.pathLength);
}

void RecordSystemError(long code, const char* call, const std::string& path) {
    RecordFileError(ClassifySystemError(code), code, call, path);
}

const char* DescribeFileFault(FileFault fault) {
    switch (fault) {
        case FileFault::None: return "cause unknown";
        case FileFault::DiskFull: return "disk full";
        case FileFault::ReadOnly: return "read-only";
        case FileFault::AccessDenied: return "access denied";
        case FileFault::InUse: return "in use by another program";
        case FileFault::NotFound: return "path not found";
        case FileFault::Other: break;
    }
    return "system error";
}

std::string DescribeFileError(const FileError& error) {
    if (error.fault != FileFault::Other) return DescribeFileFault(error.fault);
    return error.call + ": " + DescribeSystemError(error.code);
}

}  // namespace qr
