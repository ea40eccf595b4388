// Bringing one name to its newest content through a delta from the player's own copy: the delta is
// fetched like any item (resumable), applied into the target's temporary and checked against the
// name's signed digest. The target itself is left alone: the caller commits the temporary in list
// order, or fetches the whole file when this did not work out.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "patch/Download.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "release/DeltaDescription.h"

namespace qr {

struct DeltaItemRequest {
    HttpSession* session = nullptr;
    FileSystem* fs = nullptr;
    std::string name;          // the list name, for the fetch's directories
    std::string patchBaseUrl;  // the patch list's base: deltas are served below it
    std::string target;        // the installed file, as the run writes it
    const NameDeltas* offer = nullptr;  // the name's newest digest and its deltas, from the verified description
    const std::atomic<bool>* runFlag = nullptr;
    // As for items: told once the delta's server answered, then with the delta bytes so far.
    std::function<void(long long resumedFrom, long long total)> onStarted;
    ChunkObserver onChunk;
};

enum class DeltaItemStatus {
    Ready,          // target + kTempSuffix holds the newest content, verified
    NotApplicable,  // no delta starts from the local file (missing, modified, too far behind)
    Failed,         // the delta could not be fetched, applied or verified: fetch the whole file
    Stopped,        // the run flag was cleared; a partial delta is kept for the next run
};

struct DeltaItemResult {
    DeltaItemStatus status = DeltaItemStatus::NotApplicable;
    std::string reason;           // for Failed: which delta, which step, what was found
    const DescribedDelta* delta = nullptr;  // the one used (into the request's offer)
    long long received = 0;       // delta bytes on the wire this run
};

// The files a delta or a compressed file is downloaded to (their own temporary and partial record
// go beside them), and every address an offer may be fetched from: a run that removes stale partials
// keeps those of these addresses.
std::string DeltaDownloadPath(const std::string& target);
std::string CompressedDownloadPath(const std::string& target);
std::vector<std::string> OfferedAddresses(const std::string& patchBaseUrl, const NameDeltas& offer);
// Removes a delta or compressed download kept for resuming, once the name was brought another way.
void DiscardDeltaDownload(FileSystem& fs, const std::string& target);

DeltaItemResult BringByDelta(const DeltaItemRequest& request);
// The name's newest content served zstd-compressed whole, unpacked into the target's temporary and
// checked the same way; NotApplicable when the description offers none.
DeltaItemResult BringCompressedWhole(const DeltaItemRequest& request);

}  // namespace qr
