// Why a file-system call failed, kept per thread: the system adaptors record the code of their last
// failed call (errno / GetLastError) with the call and the path, so that whoever reports the failure
// can state its cause instead of guessing. Every call on the adaptors clears the record first, so
// read it right after the call that failed, before any clean-up call.
#pragma once

#include <string>

namespace qr {

enum class FileFault {
    None,          // the last call succeeded, or the layer that refused it gave no cause
    DiskFull,
    ReadOnly,
    AccessDenied,
    InUse,         // a sharing violation: another program holds the file open
    NotFound,      // the file or a directory of its path does not exist
    Other,
};

struct FileError {
    FileFault fault = FileFault::None;
    long code = 0;     // the system's code; 0 when a test layer or a check of ours refused
    std::string call;  // "create", "write", "replace", ...
    std::string path;
};

// The outcome of this thread's last file-system call.
FileError LastFileError();
void ClearFileError();
// `call` names the operation and must be a literal (it is kept, not copied).
void RecordFileError(FileFault fault, long code, const char* call, const std::string& path);
// Records a system code as the platform classifies it.
void RecordSystemError(long code, const char* call, const std::string& path);

// The platform's own classification and wording of its error codes.
FileFault ClassifySystemError(long code);
std::string DescribeSystemError(long code);

// The cause in a few words for a message: "disk full", "read-only", "path not found", ...
std::string DescribeFileError(const FileError& error);
const char* DescribeFileFault(FileFault fault);

}  // namespace qr
