#include "patch/DeltaItem.h"

#include <memory>
#include <optional>
#include <vector>

#include "archive/DeltaDecoder.h"
#include "patch/Fetch.h"
#include "patch/PartialDownload.h"
#include "platform/FileError.h"
#include "release/FileHashing.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

// The first described delta whose source is the local file; hashed only when a source has its size.
const DescribedDelta* MatchingDelta(FileSystem& fs, const std::string& target, const NameDeltas& offer) {
    std::unique_ptr<ReadableFile> local = fs.OpenRead(target);
    if (!local) return nullptr;
    bool sizeMatches = false;
    for (const DescribedDelta& d : offer.deltas) sizeMatches = sizeMatches || d.source.size == local->Size();
    if (!sizeMatches) return nullptr;
    local.reset();
    const std::optional<FileDigest> digest = DigestOfFile(fs, target);
    if (!digest) return nullptr;
    for (const DescribedDelta& d : offer.deltas)
        if (SameContent(d.source, *digest)) return &d;
    return nullptr;
}

// Decodes the downloaded file (a delta against the local file, or a whole compressed file) into
// target + kTempSuffix and checks the result. Empty on success; otherwise why, with the temporary removed.
std::string DecodeAndVerify(FileSystem& fs, const std::string& target, const std::string& downloaded,
                            const NameDeltas& offer, bool isDelta) {
    std::unique_ptr<ReadableFile> old = isDelta ? fs.OpenRead(target) : nullptr;
    std::unique_ptr<ReadableFile> delta = fs.OpenRead(downloaded);
    if ((isDelta && !old) || !delta) return "the local file or the downloaded file could not be read";
    const std::string temp = target + kTempSuffix;
    // A leftover of an earlier run, or a planted link, is removed first and never followed.
    std::unique_ptr<WritableFile> out = fs.CreateNew(temp);
    if (!out) return "the temporary could not be created (" + DescribeFileError(LastFileError()) + ")";
    HashingFile hashing(*out);
    DeltaLimits limits;
    limits.maxNewSize = offer.newest.size;
    const DeltaOutcome outcome =
        isDelta ? ApplyDelta(*old, *delta, hashing, limits) : DecompressFile(*delta, hashing, limits);
    std::string problem;
    if (!outcome.ok)
        problem = (isDelta ? "the delta could not be applied: " : "it could not be unpacked: ") + outcome.reason;
    else if (!SameContent(hashing.Digest(), offer.newest))
        problem = "the rebuilt file is not the described one";
    if (!out->CloseDurably() && problem.empty())
        problem = "the temporary could not be written (" + DescribeFileError(LastFileError()) + ")";
    out.reset();
    if (!problem.empty()) fs.Remove(temp);
    return problem;
}

}  // namespace

std::string DeltaDownloadPath(const std::string& target) { return target + kDeltaSuffix; }

std::string CompressedDownloadPath(const std::string& target) { return target + kCompressedSuffix; }

std::vector<std::string> OfferedAddresses(const std::string& patchBaseUrl, const NameDeltas& offer) {
    std::vector<std::string> addresses;
    for (const DescribedDelta& delta : offer.deltas) addresses.push_back(ServerAddress(patchBaseUrl, delta.servedName));
    if (offer.whole) addresses.push_back(ServerAddress(patchBaseUrl, offer.whole->servedName));
    return addresses;
}

void DiscardDeltaDownload(FileSystem& fs, const std::string& target) {
    for (const std::string& downloaded : {DeltaDownloadPath(target), CompressedDownloadPath(target)}) {
        DiscardPartial(fs, downloaded);
        fs.Remove(downloaded);
    }
}

namespace {

// Fetches one served file of the offer to `downloaded` (resumable as any item), then decodes it.
DeltaItemResult FetchAndDecode(const DeltaItemRequest& request, const std::string& servedName,
                               const FileDigest& served, const std::string& downloaded, bool isDelta) {
    DeltaItemResult result;
    FileSystem& fs = *request.fs;
    FetchItemRequest fetch;
    fetch.session = request.session;
    fetch.fs = &fs;
    fetch.name = request.name;
    fetch.address = ServerAddress(request.patchBaseUrl, servedName);
    fetch.target = downloaded;
    fetch.runFlag = request.runFlag;
    fetch.expected = &served;
    fetch.onStarted = request.onStarted;
    fetch.onChunk = request.onChunk;
    const FetchResult fetched = FetchItem(fetch);
    result.received = fetched.received - fetched.resumedFrom;
    if (fetched.status == DownloadStatus::Stopped) {
        result.status = DeltaItemStatus::Stopped;
        return result;
    }
    if (fetched.status != DownloadStatus::Complete) {
        result.status = DeltaItemStatus::Failed;
        result.reason = servedName + ": " + fetched.reason;
        return result;
    }
    const std::string problem = DecodeAndVerify(fs, request.target, downloaded, *request.offer, isDelta);
    fs.Remove(downloaded);  // used up either way: a bad file is not tried again
    if (!problem.empty()) {
        result.status = DeltaItemStatus::Failed;
        result.reason = servedName + ": " + problem;
        return result;
    }
    result.status = DeltaItemStatus::Ready;
    return result;
}

}  // namespace

DeltaItemResult BringByDelta(const DeltaItemRequest& request) {
    const DescribedDelta* delta = MatchingDelta(*request.fs, request.target, *request.offer);
    if (!delta) return {};
    DeltaItemResult result =
        FetchAndDecode(request, delta->servedName, delta->served, DeltaDownloadPath(request.target), true);
    result.delta = delta;
    if (!result.reason.empty()) result.reason = "delta " + result.reason;
    return result;
}

DeltaItemResult BringCompressedWhole(const DeltaItemRequest& request) {
    if (!request.offer->whole) return {};
    const CompressedWhole& whole = *request.offer->whole;
    DeltaItemResult result =
        FetchAndDecode(request, whole.servedName, whole.served, CompressedDownloadPath(request.target), false);
    if (!result.reason.empty()) result.reason = "compressed file " + result.reason;
    return result;
}

}  // namespace qr
