#include "patch/Download.h"

#include <vector>

#include "platform/Sha256.h"

namespace qr {
namespace {

// Removes the temporary file unless it was moved over the target.
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

}  // namespace

DownloadResult DownloadToFile(HttpResponse& response, FileSystem& fs, const std::string& target,
                              long long announced, const std::atomic<bool>* runFlag,
                              const ChunkObserver& onChunk, const FileDigest* expected) {
    DownloadResult result;
    const std::string temp = target + kTempSuffix;
    auto file = fs.Create(temp);
    if (!file) {
        result.status = DownloadStatus::WriteFailed;
        return result;
    }
    TempFileGuard guard(fs, temp);
    std::vector<char> chunk(kHttpChunkSize);
    Sha256 hash;
    for (;;) {
        if (runFlag && !runFlag->load()) {
            file->Close();
            result.status = DownloadStatus::Stopped;
            return result;
        }
        const ReadResult read = response.Read(chunk.data(), chunk.size());
        if (read.status == ReadStatus::End) break;
        if (read.status == ReadStatus::Error) {
            file->Close();
            result.status = DownloadStatus::Broken;
            return result;
        }
        if (!file->Write(chunk.data(), read.count)) {
            file->Close();
            result.status = DownloadStatus::WriteFailed;
            return result;
        }
        if (expected) hash.Update(chunk.data(), read.count);
        result.received += static_cast<long long>(read.count);
        if (expected && static_cast<unsigned long long>(result.received) > expected->size) {
            // Longer than the release says: never the described file, so stop reading it.
            file->Close();
            result.status = DownloadStatus::Mismatch;
            return result;
        }
        if (announced >= 0 && result.received > announced) {
            // More than the server announced: the body is not what it claimed to be.
            file->Close();
            result.status = DownloadStatus::Broken;
            return result;
        }
        if (onChunk) onChunk(result.received);
    }
    if (!file->Close()) {
        result.status = DownloadStatus::WriteFailed;
        return result;
    }
    if (announced >= 0 && result.received != announced) {
        result.status = DownloadStatus::Broken;
        return result;
    }
    if (expected && (static_cast<unsigned long long>(result.received) != expected->size ||
                     DigestHex(hash.Finish()) != expected->sha256Hex)) {
        result.status = DownloadStatus::Mismatch;
        return result;
    }
    if (!fs.Replace(temp, target)) {
        result.status = DownloadStatus::ReplaceFailed;
        return result;
    }
    guard.Commit();
    result.status = DownloadStatus::Complete;
    return result;
}

}  // namespace qr
