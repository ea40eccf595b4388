// A download that broke keeps its temporary file and a small record beside it, so that the next run
// asks only for the rest ("Range: bytes=N-" with "If-Range: <validator>") instead of starting at 0.
// Nothing partial ever replaces a game file: the completed file is checked whole, as every download.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "release/ReleaseNames.h"

namespace qr {

// The record (kPartialRecordSuffix) beside the partial file (kTempSuffix) marks it as ours in its first line.
// Partial files older than this are not resumed but removed at the start of a run.
inline constexpr int64_t kPartialMaxAgeSeconds = 7 * 24 * 60 * 60;

struct PartialRecord {
    std::string address;
    uint64_t bytes = 0;
    std::string validator;  // the ETag the server sent, else its Last-Modified
    int64_t savedAt = 0;    // seconds since 1970 (UTC)
};

std::string PartialFilePath(const std::string& target);    // target + kTempSuffix
std::string PartialRecordPath(const std::string& target);  // target + kPartialRecordSuffix

std::optional<PartialRecord> ReadPartialRecord(FileSystem& fs, const std::string& recordPath);
bool WritePartialRecord(FileSystem& fs, const std::string& recordPath, const PartialRecord& record);
// Removes the partial file of `target` and its record.
void DiscardPartial(FileSystem& fs, const std::string& target);

// The validator a later request may name in If-Range: a strong ETag, else Last-Modified; empty
// when the response has neither (such a download is not resumed).
std::string ResumeValidator(const HttpResponse& response);

// A response that may continue the kept bytes: a 206 whose Content-Range starts exactly at them and
// runs to the end of the file, whose length agrees, and whose validator (when sent) is the kept one.
bool ContinuesPartial(const HttpResponse& response, const PartialRecord& partial);

struct OpenedDownload {
    std::unique_ptr<HttpResponse> response;  // null: the server could not be reached
    long long resumeFrom = 0;                // kept bytes the body continues; 0 for a whole body
    std::string keptValidator;               // the validator of the kept bytes when resuming
};

// Opens `address` for `target`: with a usable partial file the request asks for the rest; a 200
// (changed file, or a server that ignores ranges) starts over on that body; a 416 or an answer that
// does not fit the kept bytes discards them and asks again for the whole file. `now` is seconds
// since 1970. `describedSize` (0: not known) bounds the whole file: a body that would run past it
// is refused as it arrives, or before, when its announced length already does.
OpenedDownload OpenResumable(HttpSession& session, FileSystem& fs, const std::string& address,
                             const std::string& target, int64_t now, uint64_t describedSize = 0);

// Walks `installDir` and removes every partial file (and record) whose address is not in
// `addresses` or that is older than a week. Returns how many were removed.
int RemoveStalePartials(FileSystem& fs, const std::string& installDir, const std::set<std::string>& addresses,
                        int64_t now);

// Seconds since 1970, UTC.
int64_t CurrentUnixTime();

}  // namespace qr
