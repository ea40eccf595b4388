#include "cli/ConsolePatchUi.h"

#include <cstdio>

#include "patch/PatchWorker.h"

namespace qr {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);  // about 10 updates a second
constexpr char kUnpackingFormat[] = "압축푸는 중 : %s (%d%% 완료)";

}  // namespace

ConsolePatchUi::ConsolePatchUi(std::shared_ptr<PatchRunControl> control, ConsoleOutput& out, std::string shownStatus)
    : control_(std::move(control)), out_(out), lastStatus_(std::move(shownStatus)) {}

ConsolePatchUi::~ConsolePatchUi() { StopTicker(); }

void ConsolePatchUi::ShowStatus(const std::string& status) {
    if (status == lastStatus_) return;
    lastStatus_ = status;
    out_.Line(status);
}

void ConsolePatchUi::StatusChanged(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    ShowStatus(text);
}

void ConsolePatchUi::FileStarted(const FileStart& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    ShowStatus(ReceivingStatusText(file.name));
    if (file.wholeSize > 0 && file.total >= 0) {
        // The bytes that come are a delta from the player's copy, or the file compressed: say what it spares them.
        const long long saved = (file.wholeSize - file.total) * 100 / file.wholeSize;
        out_.Line(std::string(file.delta ? "delta    " : "zstd     ") + file.name + ": " + std::to_string(file.total) + " bytes for " +
                  std::to_string(file.wholeSize) + " (" + std::to_string(saved > 0 ? saved : 0) + "% saved)");
    }
    fileIndex_ = file.index;
    fileCount_ = file.count;
    resumedFrom_ = file.resumedFrom;
    fileStart_ = std::chrono::steady_clock::now();
    lastProgress_ = fileStart_ - kProgressInterval;
    if (!runStarted_) {
        runStarted_ = true;
        runStart_ = fileStart_;
    }
}

void ConsolePatchUi::BytesReceived(long long received, long long total) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (!out_.isTerminal() || now - lastProgress_ < kProgressInterval) return;
    lastProgress_ = now;
    if (total < 0) total = 0;
    // The rate is of what this run received; a first sample taken at once would only measure noise.
    const double seconds = std::chrono::duration<double>(now - fileStart_).count();
    const double thisRun = static_cast<double>(received > resumedFrom_ ? received - resumedFrom_ : 0);
    const double speed = seconds >= 0.1 ? thisRun / seconds / 1024.0 : 0.0;
    const int percent = total > 0 ? static_cast<int>(received * 100 / total) : 0;
    // Every connection together: what the player's link gives this run.
    const double runSeconds = std::chrono::duration<double>(now - runStart_).count();
    const double allSpeed =
        runSeconds >= 0.1 ? static_cast<double>(control_->bytesThisRun.load()) / runSeconds / 1024.0 : 0.0;
    char line[512];
    std::snprintf(line, sizeof line, "[%d / %d] %lld / %lld Byte  %d%%  %.0f KB/s  (%.0f KB/s in all)", fileIndex_,
                  fileCount_, received, total, percent, speed, allSpeed);
    out_.Progress(line);
}

std::string ConsolePatchUi::UnpackingText(int percent) const {
    char text[1200];
    std::snprintf(text, sizeof text, kUnpackingFormat, extractName_.c_str(), percent);
    return text;
}

// -1 between archives.
int ConsolePatchUi::UnpackingPercent() const {
    const int total = control_->extractTotal;
    if (total == 0) return -1;
    return static_cast<int>(static_cast<double>(control_->extractDone) / total * 100);
}

void ConsolePatchUi::ExtractStarted(const std::string& name) {
    StopTicker();
    std::lock_guard<std::mutex> lock(mutex_);
    extractName_ = name;
    tickerStop_ = false;
    lastUnpacking_.clear();
    // Samples at the window's 10 ms repaint rate, shows at most ten updates a second.
    ticker_ = std::thread([this] {
        std::unique_lock<std::mutex> tickerLock(mutex_);
        auto lastShown = std::chrono::steady_clock::now() - kProgressInterval;
        while (!tickerWake_.wait_for(tickerLock, std::chrono::milliseconds(10), [this] { return tickerStop_; })) {
            const int percent = UnpackingPercent();
            if (percent < 0) continue;
            lastUnpacking_ = UnpackingText(percent);
            const auto now = std::chrono::steady_clock::now();
            if (now - lastShown >= kProgressInterval) {
                lastShown = now;
                out_.Progress(lastUnpacking_);
            }
        }
    });
}

void ConsolePatchUi::StopTicker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tickerStop_ = true;
    }
    tickerWake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
}

void ConsolePatchUi::ExtractFinished() {
    StopTicker();
    std::lock_guard<std::mutex> lock(mutex_);
    // The last text the window would have shown while unpacking stays on the console. An archive
    // unpacked between two samples was seen by nobody: it ran to its end unless the run was stopped.
    if (lastUnpacking_.empty() && control_->extractDone > 0 && control_->workerRunning)
        lastUnpacking_ = UnpackingText(100);
    if (!lastUnpacking_.empty()) out_.Line(lastUnpacking_);
}

void ConsolePatchUi::FileFailed(const std::string& name, const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++failuresShown_;
    out_.Line("failed   " + name + " (" + reason + ")");
}

void ConsolePatchUi::Finished(PatchOutcome outcome, const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool running = control_->workerRunning;
    switch (outcome) {
        case PatchOutcome::Succeeded:
            ShowStatus(kTextSuccess);
            break;
        case PatchOutcome::Failed:
            ShowStatus(kTextFailure);
            break;
        case PatchOutcome::Stopped:
            break;
        case PatchOutcome::NoConnection:
            out_.Line(kTextNoInternet);
            break;
        case PatchOutcome::DescriptionUnavailable:
            ShowStatus(kTextRunAgain);
            if (running) out_.Line(kTextInfoFailed);
            break;
    }
    // The single files had their own lines; this says why the run as a whole did not succeed.
    if (outcome != PatchOutcome::Succeeded && outcome != PatchOutcome::Stopped && !reason.empty())
        out_.Line("the patch run failed: " + reason);
    succeeded_ = outcome == PatchOutcome::Succeeded;
}

}  // namespace qr
