// One HTTP body written to a temporary file beside its target and moved over the target only when
// it arrived whole, so a failed or stopped download never leaves a half-written game file.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/FileError.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "release/ReleaseDescription.h"
#include "release/ReleaseNames.h"

namespace qr {

enum class DownloadStatus {
    Complete,     // target replaced
    Stopped,      // the run flag was cleared; target untouched
    Broken,       // connection dropped, or fewer/more bytes than announced; target untouched
    WriteFailed,  // temporary file could not be created or written; target untouched
    ReplaceFailed, // the body arrived but the target could not be replaced (in use)
    Mismatch      // the body arrived whole but its size or SHA-256 is not the expected one; target untouched
};

struct DownloadResult {
    DownloadStatus status = DownloadStatus::Broken;
    long long received = 0;
    FileError error;  // why the file could not be written or replaced
    std::string validator;  // what a later run may resume these bytes against; empty when none
};

// Where a complete body ends up: over its target, or left checked in the target's temporary for a
// caller that commits items in an order of its own.
enum class DownloadEnd { ReplaceTarget, KeepTemporary };

// A download that may keep its partial file for a later run. `offset` > 0 when the body continues
// that many kept bytes of the temporary file; `keptValidator` is their validator, used when the
// response names none.
struct ResumeContext {
    std::string address;
    long long offset = 0;
    std::string keptValidator;
};

// Called after each chunk with the total received so far.
using ChunkObserver = std::function<void(long long received)>;

// `announced` is the Content-Length, or -1 when the response has none. The run flag is tested before
// every read when given. With `expected`, the bytes must have exactly that size and SHA-256 before
// they may replace the target (for a resumed body: the kept bytes and the new ones together).
// Without `resume` any failure removes the temporary file. With it, a download that broke or was
// stopped keeps the file and its record when the server gave a validator; `received` and the
// observer then count from the kept bytes on.
DownloadResult DownloadToFile(HttpResponse& response, FileSystem& fs, const std::string& target,
                              long long announced, const std::atomic<bool>* runFlag,
                              const ChunkObserver& onChunk, const FileDigest* expected = nullptr,
                              const ResumeContext* resume = nullptr,
                              DownloadEnd end = DownloadEnd::ReplaceTarget);

}  // namespace qr
