#include "patch/PartialDownload.h"

#include <ctime>
#include <string_view>
#include <vector>

#include "patch/Download.h"
#include "patch/TransferLimits.h"
#include "platform/HttpText.h"

namespace qr {
namespace {

constexpr char kRecordMagic[] = "QRPART 1";
constexpr size_t kMaxRecordBytes = 8192;
constexpr int kMaxWalkDepth = 32;
constexpr int kHttpPartialContent = 206;
constexpr int kHttpRangeNotSatisfiable = 416;

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::optional<uint64_t> ParseDecimal(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty() || text.size() > 18) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::optional<int64_t> ParseSigned(std::string_view text) {
    text = TrimBlanks(text);
    bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    auto value = ParseDecimal(text);
    if (!value) return std::nullopt;
    return negative ? -static_cast<int64_t>(*value) : static_cast<int64_t>(*value);
}

bool ReadSmallFile(FileSystem& fs, const std::string& path, std::string& text) {
    auto file = fs.OpenRead(path);
    if (!file || file->Size() > kMaxRecordBytes) return false;
    text.resize(static_cast<size_t>(file->Size()));
    return file->ReadAt(0, text.data(), text.size()) == text.size();
}

struct ContentRange {
    uint64_t first = 0, last = 0, total = 0;
};

// "bytes 100-999/1000"; an unknown total ("*") cannot show that the range runs to the end.
std::optional<ContentRange> ParseContentRange(std::string_view text) {
    text = TrimBlanks(text);
    if (!StartsWithNoCase(text, "bytes ")) return std::nullopt;
    text.remove_prefix(6);
    const size_t dash = text.find('-'), slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
    auto first = ParseDecimal(text.substr(0, dash));
    auto last = ParseDecimal(text.substr(dash + 1, slash - dash - 1));
    auto total = ParseDecimal(text.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *last >= *total) return std::nullopt;
    return ContentRange{*first, *last, *total};
}

bool IsStrongEtag(std::string_view etag) { return !etag.empty() && !StartsWithNoCase(etag, "w/"); }

void Walk(FileSystem& fs, const std::string& dir, int depth, const std::set<std::string>& addresses,
          int64_t now, int& removed) {
    std::vector<DirectoryEntry> entries;
    if (depth > kMaxWalkDepth || !fs.ListDirectory(dir, entries)) return;
    for (const DirectoryEntry& entry : entries) {
        const std::string path = dir + "/" + entry.name;
        if (entry.isDirectory) {
            Walk(fs, path, depth + 1, addresses, now, removed);
            continue;
        }
        if (!EndsWith(entry.name, kPartialRecordSuffix)) continue;
        auto record = ReadPartialRecord(fs, path);
        if (!record) continue;  // not one of ours
        const bool listed = addresses.count(record->address) != 0;
        const bool old = now - record->savedAt > kPartialMaxAgeSeconds;
        if (listed && !old) continue;
        const std::string target = path.substr(0, path.size() - std::string_view(kPartialRecordSuffix).size());
        DiscardPartial(fs, target);
        ++removed;
    }
}

}  // namespace

std::string PartialFilePath(const std::string& target) { return target + kTempSuffix; }
std::string PartialRecordPath(const std::string& target) { return target + kPartialRecordSuffix; }

std::optional<PartialRecord> ReadPartialRecord(FileSystem& fs, const std::string& recordPath) {
    std::string text;
    if (!ReadSmallFile(fs, recordPath, text)) return std::nullopt;
    std::vector<std::string_view> lines;
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        lines.push_back(TrimBlanks(rest.substr(0, nl)));
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    }
    if (lines.empty() || lines[0] != kRecordMagic) return std::nullopt;
    PartialRecord record;
    bool haveBytes = false, haveSaved = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t eq = lines[i].find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = lines[i].substr(0, eq), value = lines[i].substr(eq + 1);
        if (key == "address") record.address = std::string(value);
        if (key == "validator") record.validator = std::string(value);
        if (key == "bytes") {
            auto bytes = ParseDecimal(value);
            if (!bytes) return std::nullopt;
            record.bytes = *bytes;
            haveBytes = true;
        }
        if (key == "saved") {
            auto saved = ParseSigned(value);
            if (!saved) return std::nullopt;
            record.savedAt = *saved;
            haveSaved = true;
        }
    }
    if (record.address.empty() || !haveBytes || !haveSaved) return std::nullopt;
    return record;
}

bool WritePartialRecord(FileSystem& fs, const std::string& recordPath, const PartialRecord& record) {
    if (!IsSafeHeaderText(record.address) || !IsSafeHeaderText(record.validator)) return false;
    const std::string text = std::string(kRecordMagic) + "\naddress=" + record.address +
                             "\nbytes=" + std::to_string(record.bytes) + "\nvalidator=" + record.validator +
                             "\nsaved=" + std::to_string(record.savedAt) + "\n";
    auto file = fs.CreateNew(recordPath);
    if (!file) return false;
    const bool written = file->Write(text.data(), text.size());
    if (file->Close() && written) return true;
    fs.Remove(recordPath);
    return false;
}

void DiscardPartial(FileSystem& fs, const std::string& target) {
    fs.Remove(PartialRecordPath(target));
    fs.Remove(PartialFilePath(target));
}

std::string ResumeValidator(const HttpResponse& response) {
    if (auto etag = response.HeaderText("ETag"); etag && IsStrongEtag(*etag) && IsSafeHeaderText(*etag))
        return *etag;
    if (auto modified = response.HeaderText("Last-Modified"); modified && IsSafeHeaderText(*modified))
        return std::string(TrimBlanks(*modified));
    return {};
}

bool ContinuesPartial(const HttpResponse& response, const PartialRecord& partial) {
    if (response.StatusCode() != kHttpPartialContent || partial.validator.empty()) return false;
    auto rangeText = response.HeaderText("Content-Range");
    auto range = rangeText ? ParseContentRange(*rangeText) : std::nullopt;
    if (!range || range->first != partial.bytes || range->last + 1 != range->total) return false;
    // Without a length the end of the rest could not be told from a connection that closed early.
    auto length = response.ContentLengthText();
    auto announced = length ? ParseContentLength(*length) : std::nullopt;
    if (!announced || *announced != range->total - range->first) return false;
    // If-Range already asked the server to compare; a different validator in the answer means the
    // range belongs to other bytes.
    const std::string sent = ResumeValidator(response);
    if (!sent.empty() && sent != partial.validator) {
        const bool sameKind = (partial.validator.front() == '"') == (sent.front() == '"');
        if (sameKind) return false;
    }
    return true;
}

// Every request here keeps the items' minimum rate and the described size; DownloadToFile checks that
// size again together with the digest.
OpenedDownload OpenResumable(HttpSession& session, FileSystem& fs, const std::string& address,
                             const std::string& target, int64_t now, uint64_t describedSize) {
    OpenedDownload opened;
    std::optional<PartialRecord> partial = ReadPartialRecord(fs, PartialRecordPath(target));
    if (partial) {
        auto kept = fs.OpenRead(PartialFilePath(target));
        const bool usable = kept && kept->Size() == partial->bytes && partial->bytes > 0 &&
                            partial->address == address && !partial->validator.empty() &&
                            now - partial->savedAt <= kPartialMaxAgeSeconds &&
                            (describedSize == 0 || partial->bytes < describedSize);
        kept.reset();
        if (!usable) {
            DiscardPartial(fs, target);
            partial.reset();
        }
    }
    if (!partial) {
        opened.response = session.Send(address, ItemRequest(describedSize));
        return opened;
    }
    // Bounded by the whole file, not by the rest: an If-Range that no longer holds brings all of it.
    const HttpHeaders headers = {{"Range", "bytes=" + std::to_string(partial->bytes) + "-"},
                                 {"If-Range", partial->validator}};
    opened.response = session.Send(address, ItemRequest(describedSize, headers));
    if (!opened.response) return opened;  // unreachable: the kept bytes wait for another run
    const int status = opened.response->StatusCode();
    if (status == kHttpPartialContent || status == kHttpRangeNotSatisfiable) {
        if (ContinuesPartial(*opened.response, *partial)) {
            opened.resumeFrom = static_cast<long long>(partial->bytes);
            opened.keptValidator = partial->validator;
            return opened;
        }
        // Not the rest of the kept bytes: they are of no use, so the whole file is asked for again.
        opened.response.reset();
        DiscardPartial(fs, target);
        opened.response = session.Send(address, ItemRequest(describedSize));
        return opened;
    }
    // A 200 is the whole file (changed, or ranges ignored) and starts over; an error status keeps
    // the partial file for a later run.
    if (status >= 200 && status <= 299) DiscardPartial(fs, target);
    return opened;
}

int RemoveStalePartials(FileSystem& fs, const std::string& installDir, const std::set<std::string>& addresses,
                        int64_t now) {
    std::string dir = installDir;
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
    if (dir.empty()) dir = ".";
    int removed = 0;
    Walk(fs, dir, 0, addresses, now, removed);
    return removed;
}

int64_t CurrentUnixTime() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace qr
