#include "patch/RunLog.h"

#include <ctime>

#include "release/ReleaseNames.h"

namespace qr {
namespace {

constexpr char kRunHeading[] = "=== run started ";
constexpr char kLineEnd[] = "\r\n";
constexpr size_t kUnreadableLogBytes = 4 * kRunLogByteLimit;  // larger: not ours, start over

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    parts = *std::gmtime(&now);  // the CRT keeps one result per thread
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

// Names and reasons come from the network: no control character may start a line of its own.
std::string LogLine(const std::string& text) {
    std::string line = text.substr(0, kRunLogLineLimit);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return line + kLineEnd;
}

std::string RunText(const RunRecord& run) {
    std::string text = LogLine(kRunHeading + run.started);
    text += LogLine("installed version: " + run.installedVersion);
    text += LogLine("served version: " + (run.servedVersion.empty() ? std::string("(unknown)") : run.servedVersion));
    for (const std::string& failure : run.failures) text += LogLine("failed: " + failure);
    if (run.moreFailures > 0) text += LogLine("failed: " + std::to_string(run.moreFailures) + " more files");
    text += LogLine("result: " + run.result);
    if (!run.reason.empty()) text += LogLine("reason: " + run.reason);
    return text;
}

// The runs of a log, each from its heading; text before the first heading is dropped.
std::vector<std::string> SplitRuns(const std::string& log) {
    std::vector<std::string> runs;
    const std::string separator = std::string("\n") + kRunHeading;
    size_t start = log.rfind(kRunHeading, 0) == 0 ? 0 : log.find(separator);
    if (start != std::string::npos && start != 0) ++start;
    while (start != std::string::npos) {
        size_t next = log.find(separator, start);
        if (next == std::string::npos) {
            runs.push_back(log.substr(start));
            break;
        }
        ++next;
        runs.push_back(log.substr(start, next - start));
        start = next;
    }
    return runs;
}

const char* ResultText(PatchOutcome outcome) {
    switch (outcome) {
        case PatchOutcome::Succeeded: return "succeeded";
        case PatchOutcome::Failed: return "failed";
        case PatchOutcome::Stopped: return "stopped";
        case PatchOutcome::NoConnection: return "failed, no internet layer";
        case PatchOutcome::DescriptionUnavailable: return "failed, no usable patch description";
    }
    return "unknown";
}

}  // namespace

std::string RunLogPath(const std::string& installDir) { return installDir + kRunLogFileName; }

std::string AddRunToLog(const std::string& log, const RunRecord& run) {
    std::vector<std::string> runs = SplitRuns(log);
    runs.push_back(RunText(run));
    const size_t kept = static_cast<size_t>(kRunLogRuns);
    size_t first = runs.size() > kept ? runs.size() - kept : 0;
    size_t bytes = 0;
    for (size_t i = first; i < runs.size(); ++i) bytes += runs[i].size();
    // The newest run always stays; its own lines are bounded well below the limit.
    while (bytes > kRunLogByteLimit && first + 1 < runs.size()) bytes -= runs[first++].size();
    std::string text;
    for (size_t i = first; i < runs.size(); ++i) text += runs[i];
    return text;
}

std::string ReadRunLog(FileSystem& fs, const std::string& installDir) {
    auto file = fs.OpenRead(RunLogPath(installDir));
    if (!file || file->Size() > kUnreadableLogBytes) return {};
    std::string text(static_cast<size_t>(file->Size()), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const size_t got = file->ReadAt(done, &text[done], text.size() - done);
        if (got == 0) return {};
        done += got;
    }
    return text;
}

bool WriteRunLog(FileSystem& fs, const std::string& installDir, const RunRecord& run) {
    const std::string text = AddRunToLog(ReadRunLog(fs, installDir), run);
    const std::string path = RunLogPath(installDir);
    const std::string temp = path + kTempSuffix;
    auto file = fs.Create(temp);
    bool written = file && file->Write(text.data(), text.size());
    written = file && file->Close() && written;
    if (written && fs.Replace(temp, path)) return true;
    fs.Remove(temp);
    return false;
}

RunLogEvents::RunLogEvents(std::shared_ptr<PatchEvents> inner, FileSystem& fs, std::string installDir,
                           std::string installedVersion)
    : ForwardingPatchEvents(std::move(inner)), fs_(fs), installDir_(std::move(installDir)) {
    run_.started = UtcNow();
    run_.installedVersion = std::move(installedVersion);
}

void RunLogEvents::ServedVersionKnown(const std::string& version) {
    run_.servedVersion = version;
    ForwardingPatchEvents::ServedVersionKnown(version);
}

void RunLogEvents::FileFailed(const std::string& name, const std::string& reason) {
    if (static_cast<int>(run_.failures.size()) < kRunLogFailureLines)
        run_.failures.push_back(name + ": " + reason);
    else
        ++run_.moreFailures;
    ForwardingPatchEvents::FileFailed(name, reason);
}

void RunLogEvents::Finished(PatchOutcome outcome, const std::string& reason) {
    run_.result = ResultText(outcome);
    run_.reason = reason;
    // A log that cannot be written never changes the run's outcome.
    WriteRunLog(fs_, installDir_, run_);
    ForwardingPatchEvents::Finished(outcome, reason);
}

}  // namespace qr
