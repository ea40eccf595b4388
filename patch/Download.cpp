#include "patch/Download.h"

#include <vector>

#include "patch/PartialDownload.h"
#include "platform/Sha256.h"

namespace qr {
namespace {

constexpr size_t kHashBlockSize = 1 << 20;

// Removes the temporary file unless it was moved over the target or kept for a later run.
class TempFileGuard {
public:
    TempFileGuard(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    ~TempFileGuard() {
        if (!committed_) fs_.Remove(path_);
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Commit() { committed_ = true; }

private:
    FileSystem& fs_;
    std::string path_;
    bool committed_ = false;
};

// Feeds the first `length` bytes of `path` to `hash`; false when they cannot all be read.
bool HashKeptBytes(FileSystem& fs, const std::string& path, uint64_t length, Sha256& hash) {
    auto file = fs.OpenRead(path);
    if (!file || file->Size() != length) return false;
    std::vector<char> block(kHashBlockSize);
    for (uint64_t at = 0; at < length;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(block.size(), length - at));
        if (file->ReadAt(at, block.data(), want) != want) return false;
        hash.Update(block.data(), want);
        at += want;
    }
    return true;
}

}  // namespace

DownloadResult DownloadToFile(HttpResponse& response, FileSystem& fs, const std::string& target,
                              long long announced, const std::atomic<bool>* runFlag,
                              const ChunkObserver& onChunk, const FileDigest* expected,
                              const ResumeContext* resume, DownloadEnd end) {
    DownloadResult result;
    const std::string temp = target + kTempSuffix;
    const long long offset = resume && resume->offset > 0 ? resume->offset : 0;
    Sha256 hash;
    std::unique_ptr<WritableFile> file;
    if (offset > 0) {
        // The kept bytes count as much as the new ones: the whole file is hashed.
        const bool keptOk = !expected || (static_cast<unsigned long long>(offset) <= expected->size &&
                                          HashKeptBytes(fs, temp, static_cast<uint64_t>(offset), hash));
        if (keptOk) file = fs.OpenAppend(temp);
        if (!file) {
            DiscardPartial(fs, target);
            result.status = keptOk ? DownloadStatus::Broken : DownloadStatus::Mismatch;
            return result;
        }
    } else {
        if (resume) fs.Remove(PartialRecordPath(target));
        // A leftover or planted temporary is never written through.
        file = fs.CreateNew(temp);
    }
    if (!file) {
        result.status = DownloadStatus::WriteFailed;
        result.error = LastFileError();
        return result;
    }
    TempFileGuard guard(fs, temp);
    // The record goes with the file whatever the outcome, unless the file is kept below.
    auto dropRecord = [&] {
        if (resume) fs.Remove(PartialRecordPath(target));
    };
    // The response's own validator, else the one the kept bytes were fetched against.
    auto validatorOfBytes = [&] {
        std::string validator = ResumeValidator(response);
        return validator.empty() && offset > 0 ? resume->keptValidator : validator;
    };
    // A drop or a stop keeps what arrived when a later request can ask for the rest of these bytes.
    auto keepForLater = [&](DownloadStatus status) {
        result.status = status;
        if (!file->Close() || !resume || result.received <= 0) return dropRecord();
        const std::string validator = validatorOfBytes();
        if (validator.empty()) return dropRecord();
        PartialRecord record{resume->address, static_cast<uint64_t>(result.received), validator, CurrentUnixTime()};
        if (WritePartialRecord(fs, PartialRecordPath(target), record)) guard.Commit();
    };
    auto fail = [&](DownloadStatus status) {
        file->Close();
        dropRecord();
        result.status = status;
    };

    result.received = offset;
    long long bodyReceived = 0;
    std::vector<char> chunk(kHttpChunkSize);
    for (;;) {
        if (runFlag && !runFlag->load()) {
            keepForLater(DownloadStatus::Stopped);
            return result;
        }
        const ReadResult read = response.Read(chunk.data(), chunk.size());
        if (read.status == ReadStatus::End) break;
        if (read.status == ReadStatus::Error && response.Failure() == HttpFailure::TooLarge && expected) {
            // Past the described size: never the described file, so nothing of it is kept to resume.
            fail(DownloadStatus::Mismatch);
            return result;
        }
        if (read.status == ReadStatus::Error) {
            keepForLater(DownloadStatus::Broken);
            return result;
        }
        if (!file->Write(chunk.data(), read.count)) {
            result.error = LastFileError();
            fail(DownloadStatus::WriteFailed);
            return result;
        }
        if (expected) hash.Update(chunk.data(), read.count);
        result.received += static_cast<long long>(read.count);
        bodyReceived += static_cast<long long>(read.count);
        if (expected && static_cast<unsigned long long>(result.received) > expected->size) {
            // Longer than the release says: never the described file, so stop reading it.
            fail(DownloadStatus::Mismatch);
            return result;
        }
        if (announced >= 0 && bodyReceived > announced) {
            // More than the server announced: the body is not what it claimed to be.
            fail(DownloadStatus::Broken);
            return result;
        }
        if (onChunk) onChunk(result.received);
    }
    if (!file->Close()) {
        result.error = LastFileError();
        dropRecord();
        result.status = DownloadStatus::WriteFailed;
        return result;
    }
    dropRecord();
    if (announced >= 0 && bodyReceived != announced) {
        result.status = DownloadStatus::Broken;
        return result;
    }
    if (expected && (static_cast<unsigned long long>(result.received) != expected->size ||
                     DigestHex(hash.Finish()) != expected->sha256Hex)) {
        result.status = DownloadStatus::Mismatch;
        return result;
    }
    result.validator = validatorOfBytes();
    if (end == DownloadEnd::KeepTemporary) {
        guard.Commit();
        result.status = DownloadStatus::Complete;
        return result;
    }
    if (!fs.Replace(temp, target)) {
        result.status = DownloadStatus::ReplaceFailed;
        result.error = LastFileError();
        return result;
    }
    guard.Commit();
    result.status = DownloadStatus::Complete;
    return result;
}

}  // namespace qr
