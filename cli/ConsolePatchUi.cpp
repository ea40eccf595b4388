#include "cli/ConsolePatchUi.h"

#include <cstdio>

namespace qr {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);  // about 10 updates a second
constexpr char kUnpackingFormat[] = "압축푸는 중 : %s (%d%% 완료)";

bool IsByteCounter(const ClientRect* area) { return area && area->left == 629 && area->top == 63; }

}  // namespace

ConsolePatchUi::ConsolePatchUi(std::shared_ptr<LauncherState> state, ConsoleOutput& out)
    : state_(std::move(state)), out_(out), lastStatus_(state_->statusText.Get()) {}

ConsolePatchUi::~ConsolePatchUi() { StopTicker(); }

void ConsolePatchUi::PrintStatusIfChanged() {
    std::string status = state_->statusText.Get();
    if (status == lastStatus_) return;
    lastStatus_ = status;
    out_.Line(status);
}

void ConsolePatchUi::Invalidate(const ClientRect* area, bool /*erase*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    PrintStatusIfChanged();
    if (IsByteCounter(area)) ShowDownloadProgress();
}

void ConsolePatchUi::ShowDownloadProgress() {
    const auto now = std::chrono::steady_clock::now();
    const int index = state_->archiveIndex;
    if (index != lastFileIndex_) {
        lastFileIndex_ = index;
        fileStart_ = now;
        lastProgress_ = now - kProgressInterval;
    }
    if (!out_.isTerminal() || now - lastProgress_ < kProgressInterval) return;
    lastProgress_ = now;
    const long long received = state_->bytesReceived;
    const long long total = state_->bytesTotal;
    const double seconds = std::chrono::duration<double>(now - fileStart_).count();
    const double speed = seconds > 0 ? received / seconds / 1024.0 : 0.0;
    const int percent = total > 0 ? static_cast<int>(received * 100 / total) : 0;
    char line[512];
    std::snprintf(line, sizeof line, "[%d / %d] %lld / %lld Byte  %d%%  %.0f KB/s", index, state_->archiveCount.load(),
                  received, total, percent, speed);
    out_.Progress(line);
}

std::string ConsolePatchUi::UnpackingText() const {
    const int total = state_->extractTotal;
    if (total == 0) return {};
    char text[1200];
    std::snprintf(text, sizeof text, kUnpackingFormat, state_->extractName.Get().c_str(),
                  static_cast<int>(static_cast<double>(state_->extractDone) / total * 100));
    return text;
}

void ConsolePatchUi::StartExtractTimer() {
    StopTicker();
    tickerStop_ = false;
    lastUnpacking_.clear();
    // Samples at the window's 10 ms repaint rate, shows at most ten updates a second.
    ticker_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        auto lastShown = std::chrono::steady_clock::now() - kProgressInterval;
        while (!tickerWake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return tickerStop_; })) {
            std::string text = UnpackingText();
            if (text.empty()) continue;
            lastUnpacking_ = text;
            const auto now = std::chrono::steady_clock::now();
            if (now - lastShown >= kProgressInterval) {
                lastShown = now;
                out_.Progress(text);
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

void ConsolePatchUi::StopExtractTimer() {
    StopTicker();
    std::lock_guard<std::mutex> lock(mutex_);
    // The last text the window would have shown while unpacking stays on the console. An archive
    // unpacked between two samples was seen by nobody: it ran to its end unless the run was stopped.
    if (lastUnpacking_.empty() && state_->extractDone > 0 && state_->workerRunning) {
        char text[1200];
        std::snprintf(text, sizeof text, kUnpackingFormat, state_->extractName.Get().c_str(), 100);
        lastUnpacking_ = text;
    }
    if (!lastUnpacking_.empty()) out_.Line(lastUnpacking_);
}

void ConsolePatchUi::ShowMessage(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    PrintStatusIfChanged();
    out_.Line(text);
}

void ConsolePatchUi::PatchFinished(bool success) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        PrintStatusIfChanged();
    }
    succeeded_ = success;
    finished_ = true;
}

}  // namespace qr
