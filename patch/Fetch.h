// The two ways a patch run, a repair and the tests fetch from the patch server: one item over its
// game file (resumable, checked whole before it replaces anything), and one small document read
// into memory (the description, its signature).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "patch/Download.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "release/ReleaseNames.h"

namespace qr {


bool IsSuccessStatus(int status);
// The announced Content-Length; -1 when the response has none.
long long AnnouncedLength(const HttpResponse& response);

struct FetchItemRequest {
    HttpSession* session = nullptr;
    FileSystem* fs = nullptr;
    std::string name;  // the list name; its directories are made relative to the current directory
    std::string address;
    std::string target;
    const std::atomic<bool>* runFlag = nullptr;
    const FileDigest* expected = nullptr;  // size and SHA-256 the whole file must have
    // KeepTemporary: a complete item waits, checked, in the target's temporary for CommitFetched.
    DownloadEnd end = DownloadEnd::ReplaceTarget;
    // Told once the server answered with a success status: kept bytes the body continues, and the
    // whole file's length (-1 when unknown).
    std::function<void(long long resumedFrom, long long total)> onStarted;
    ChunkObserver onChunk;  // counts the whole file, kept bytes included
};

struct FetchResult {
    DownloadStatus status = DownloadStatus::Broken;
    long long resumedFrom = 0;
    long long received = 0;
    std::string reason;  // what went wrong, in words; empty when complete
    std::string validator;  // of the complete bytes, for keeping them over a stop
    bool requested = true;  // false: the temporary already held the whole described file
    bool CannotWrite() const {
        return status == DownloadStatus::WriteFailed || status == DownloadStatus::ReplaceFailed;
    }
};

// A temporary that already holds the whole described file (kept over an earlier stop) is taken
// without a request.
FetchResult FetchItem(const FetchItemRequest& request);

// Moves an item fetched with KeepTemporary over its target.
FetchResult CommitFetched(FileSystem& fs, const std::string& target);
// An item fetched with KeepTemporary that will not be committed in this run: kept, with a record,
// for the next run to take (without a request when described); discarded when the server named no
// validator to resume against.
void KeepFetchedForLater(FileSystem& fs, const std::string& address, const std::string& target,
                         const FetchResult& fetched);

struct SmallBodyRequest {
    HttpSession* session = nullptr;
    std::string url;
    size_t limit = kMaxDescriptionBytes;
    const std::atomic<bool>* runFlag = nullptr;
};

// The body of a success status, whole: at most `limit` bytes and exactly the announced length when
// one was announced. Nothing otherwise, and nothing once the run flag is cleared.
std::optional<std::string> FetchSmallBody(const SmallBodyRequest& request);

}  // namespace qr
