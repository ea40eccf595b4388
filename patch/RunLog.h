// The run log: what the last few patch runs did, kept in the install directory for a support desk.
// Every run adds its start time, the installed and served versions, each file that failed and why,
// and how the run ended; the oldest runs are dropped to keep the file small.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "patch/PatchEvents.h"
#include "platform/FileSystem.h"

namespace qr {

inline constexpr int kRunLogRuns = 5;
inline constexpr size_t kRunLogByteLimit = 64 << 10;
inline constexpr int kRunLogFailureLines = 100;  // per run; further failures are counted
inline constexpr size_t kRunLogLineLimit = 500;  // a line's bytes

// One run as it is written.
struct RunRecord {
    std::string started;  // "2026-12-08 22:58:03 UTC"
    std::string installedVersion;
    std::string servedVersion;  // empty when the description never arrived
    std::vector<std::string> failures;  // "name: reason"
    int moreFailures = 0;
    std::string result;
    std::string reason;
};

std::string RunLogPath(const std::string& installDir);  // `installDir` ends in a separator
// The log's text with `run` added last: at most kRunLogRuns runs and kRunLogByteLimit bytes.
std::string AddRunToLog(const std::string& log, const RunRecord& run);
// Replaces the log through a temporary, so it is never seen half-written; false when it could not.
bool WriteRunLog(FileSystem& fs, const std::string& installDir, const RunRecord& run);
// The log's text; empty when there is none or it cannot be read.
std::string ReadRunLog(FileSystem& fs, const std::string& installDir);

// Passes every event on to `inner` and writes the run to the log before its Finished.
class RunLogEvents : public ForwardingPatchEvents {
public:
    RunLogEvents(std::shared_ptr<PatchEvents> inner, FileSystem& fs, std::string installDir,
                 std::string installedVersion);

    void ServedVersionKnown(const std::string& version) override;
    void FileFailed(const std::string& name, const std::string& reason) override;
    void Finished(PatchOutcome outcome, const std::string& reason) override;

private:
    FileSystem& fs_;
    std::string installDir_;
    RunRecord run_;
};

}  // namespace qr
