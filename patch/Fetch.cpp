#include "patch/Fetch.h"

#include <climits>

#include "common/Atoi.h"
#include "patch/InstallVerify.h"
#include "patch/PartialDownload.h"
#include "patch/TransferLimits.h"
#include "platform/FileError.h"
#include "platform/HttpText.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

bool Running(const std::atomic<bool>* flag) { return !flag || flag->load(); }

std::string DescribeDownload(const DownloadResult& result, long long total) {
    switch (result.status) {
        case DownloadStatus::Complete: return {};
        case DownloadStatus::Stopped: return "stopped";
        case DownloadStatus::Mismatch: return "the bytes served are not the described ones";
        case DownloadStatus::WriteFailed:
            return "the file could not be written (" + DescribeFileError(result.error) + ")";
        case DownloadStatus::ReplaceFailed:
            return "the file could not be replaced (" + DescribeFileError(result.error) + ")";
        case DownloadStatus::Broken: break;
    }
    std::string reason = "the transfer broke after " + std::to_string(result.received) + " bytes";
    if (total >= 0) reason += " of " + std::to_string(total);
    return reason;
}

// The record of the target's kept temporary when it says the file is whole and the bytes are the
// described ones.
std::optional<PartialRecord> KeptWhole(FileSystem& fs, const FetchItemRequest& request) {
    if (!request.expected) return std::nullopt;
    std::optional<PartialRecord> record = ReadPartialRecord(fs, PartialRecordPath(request.target));
    if (!record || record->address != request.address || record->bytes != request.expected->size ||
        !FileHolds(fs, PartialFilePath(request.target), *request.expected))
        return std::nullopt;
    return record;
}

}  // namespace

bool IsSuccessStatus(int status) { return status >= 200 && status <= 299; }

long long AnnouncedLength(const HttpResponse& response) {
    auto text = response.ContentLengthText();
    if (!text || text->empty()) return -1;
    // A plain length is read whole: through the 32-bit atoi one past 2 GiB would wrap.
    if (const std::optional<uint64_t> length = ParseContentLength(*text))
        return *length > static_cast<uint64_t>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(*length);
    return AtoiValue(*text);
}

FetchResult FetchItem(const FetchItemRequest& request) {
    FetchResult result;
    FileSystem& fs = *request.fs;
    if (const std::optional<PartialRecord> kept = KeptWhole(fs, request)) {
        result.requested = false;
        result.received = static_cast<long long>(request.expected->size);
        result.validator = kept->validator;
        if (request.end == DownloadEnd::KeepTemporary) {
            fs.Remove(PartialRecordPath(request.target));
            result.status = DownloadStatus::Complete;
            return result;
        }
        return CommitFetched(fs, request.target);
    }
    const uint64_t describedSize = request.expected ? request.expected->size : 0;
    OpenedDownload opened =
        OpenResumable(*request.session, fs, request.address, request.target, CurrentUnixTime(), describedSize);
    if (!opened.response) {
        result.reason = "the server could not be reached";
        return result;
    }
    const int status = opened.response->StatusCode();
    if (!IsSuccessStatus(status)) {
        // An error page never becomes a game file.
        result.reason = "the server answered " + std::to_string(status);
        return result;
    }
    result.resumedFrom = opened.resumeFrom;
    for (const std::string& dir : DirectoriesToCreate(request.name)) fs.MakeDirectory(dir);
    const long long announced = AnnouncedLength(*opened.response);
    // A resumed body announces only the rest; progress counts the whole file.
    const long long total = announced < 0 ? announced : opened.resumeFrom + announced;
    if (request.onStarted) request.onStarted(opened.resumeFrom, total);
    const ResumeContext resume{request.address, opened.resumeFrom, opened.keptValidator};
    const DownloadResult download = DownloadToFile(*opened.response, fs, request.target, announced, request.runFlag,
                                                   request.onChunk, request.expected, &resume, request.end);
    result.status = download.status;
    result.received = download.received;
    result.validator = download.validator;
    result.reason = DescribeDownload(download, total);
    return result;
}

FetchResult CommitFetched(FileSystem& fs, const std::string& target) {
    FetchResult result;
    DownloadResult replaced;
    replaced.status = fs.Replace(PartialFilePath(target), target) ? DownloadStatus::Complete : DownloadStatus::ReplaceFailed;
    if (replaced.status == DownloadStatus::ReplaceFailed) replaced.error = LastFileError();
    result.status = replaced.status;
    result.reason = DescribeDownload(replaced, -1);
    return result;
}

void KeepFetchedForLater(FileSystem& fs, const std::string& address, const std::string& target,
                         const FetchResult& fetched) {
    if (fetched.validator.empty()) return DiscardPartial(fs, target);
    const PartialRecord record{address, static_cast<uint64_t>(fetched.received), fetched.validator,
                               CurrentUnixTime()};
    if (!WritePartialRecord(fs, PartialRecordPath(target), record)) DiscardPartial(fs, target);
}

std::optional<std::string> FetchSmallBody(const SmallBodyRequest& request) {
    auto response =
        request.url.empty() ? nullptr : request.session->Send(request.url, SmallDocumentRequest(request.limit));
    if (!response || !Running(request.runFlag) || !IsSuccessStatus(response->StatusCode())) return std::nullopt;
    const long long announced = AnnouncedLength(*response);
    if (announced > static_cast<long long>(request.limit)) return std::nullopt;
    std::string body;
    char chunk[kHttpChunkSize];
    for (;;) {
        const ReadResult read = response->Read(chunk, sizeof chunk);
        if (read.status == ReadStatus::End) break;
        if (read.status == ReadStatus::Error || body.size() + read.count > request.limit || !Running(request.runFlag))
            return std::nullopt;
        body.append(chunk, read.count);
    }
    if (announced >= 0 && body.size() != static_cast<size_t>(announced)) return std::nullopt;
    return body;
}

}  // namespace qr
