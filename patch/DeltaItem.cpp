#include "patch/DeltaItem.h"

#include <memory>
#include <optional>
#include <vector>

#include "archive/DeltaDecoder.h"
#include "patch/Fetch.h"
#include "patch/PartialDownload.h"
#include "platform/FileError.h"
#include "platform/Sha256.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

constexpr size_t kHashBlock = 1 << 20;

std::optional<FileDigest> DigestOfFile(ReadableFile& file) {
    Sha256 hash;
    std::vector<unsigned char> block(kHashBlock);
    const uint64_t size = file.Size();
    for (uint64_t offset = 0; offset < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), size - offset));
        if (!ReadFully(file, offset, block.data(), want)) return std::nullopt;
        hash.Update(block.data(), want);
        offset += want;
    }
    if (!hash.ok()) return std::nullopt;
    return FileDigest{DigestHex(hash.Finish()), size};
}

// The first described delta whose source is the local file; hashed only when a source has its size.
const DescribedDelta* MatchingDelta(FileSystem& fs, const std::string& target, const NameDeltas& offer) {
    std::unique_ptr<ReadableFile> local = fs.OpenRead(target);
    if (!local) return nullptr;
    bool sizeMatches = false;
    for (const DescribedDelta& d : offer.deltas) sizeMatches = sizeMatches || d.source.size == local->Size();
    if (!sizeMatches) return nullptr;
    const std::optional<FileDigest> digest = DigestOfFile(*local);
    if (!digest) return nullptr;
    for (const DescribedDelta& d : offer.deltas)
        if (SameContent(d.source, *digest)) return &d;
    return nullptr;
}

// Counts and hashes what passes through to the temporary.
class HashingFile : public WritableFile {
public:
    explicit HashingFile(WritableFile& inner) : inner_(inner) {}
    bool Write(const void* data, size_t length) override {
        hash_.Update(data, length);
        size_ += length;
        return inner_.Write(data, length);
    }
    bool Close() override { return true; }  // the owner closes the real file
    FileDigest Digest() { return {DigestHex(hash_.Finish()), size_}; }

private:
    WritableFile& inner_;
    Sha256 hash_;
    uint64_t size_ = 0;
};

// Applies the downloaded delta to the local file into target + kTempSuffix and checks the result.
// Empty on success; otherwise why, with the temporary removed.
std::string ApplyAndVerify(FileSystem& fs, const std::string& target, const std::string& deltaPath,
                           const NameDeltas& offer) {
    std::unique_ptr<ReadableFile> old = fs.OpenRead(target);
    std::unique_ptr<ReadableFile> delta = fs.OpenRead(deltaPath);
    if (!old || !delta) return "the local file or the downloaded delta could not be read";
    const std::string temp = target + kTempSuffix;
    // A leftover of an earlier run, or a planted link, is removed first and never followed.
    std::unique_ptr<WritableFile> out = fs.CreateNew(temp);
    if (!out) return "the temporary could not be created (" + DescribeFileError(LastFileError()) + ")";
    HashingFile hashing(*out);
    DeltaLimits limits;
    limits.maxNewSize = offer.newest.size;
    const DeltaOutcome outcome = ApplyDelta(*old, *delta, hashing, limits);
    std::string problem;
    if (!outcome.ok)
        problem = "the delta could not be applied: " + outcome.reason;
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

std::string DeltaAddress(const std::string& patchBaseUrl, const DescribedDelta& delta) {
    return ServerAddress(patchBaseUrl, delta.servedName);
}

void DiscardDeltaDownload(FileSystem& fs, const std::string& target) {
    DiscardPartial(fs, DeltaDownloadPath(target));
    fs.Remove(DeltaDownloadPath(target));
}

DeltaItemResult BringByDelta(const DeltaItemRequest& request) {
    DeltaItemResult result;
    FileSystem& fs = *request.fs;
    result.delta = MatchingDelta(fs, request.target, *request.offer);
    if (!result.delta) return result;
    const DescribedDelta& delta = *result.delta;
    const std::string deltaPath = DeltaDownloadPath(request.target);

    FetchItemRequest fetch;
    fetch.session = request.session;
    fetch.fs = &fs;
    fetch.name = request.name;
    fetch.address = DeltaAddress(request.patchBaseUrl, delta);
    fetch.target = deltaPath;
    fetch.runFlag = request.runFlag;
    fetch.expected = &delta.served;
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
        result.reason = "delta " + delta.servedName + ": " + fetched.reason;
        return result;
    }
    const std::string problem = ApplyAndVerify(fs, request.target, deltaPath, *request.offer);
    fs.Remove(deltaPath);  // used up either way: a bad delta is not tried again
    if (!problem.empty()) {
        result.status = DeltaItemStatus::Failed;
        result.reason = "delta " + delta.servedName + ": " + problem;
        return result;
    }
    result.status = DeltaItemStatus::Ready;
    return result;
}

}  // namespace qr
