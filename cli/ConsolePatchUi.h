// The patch worker's window, told on a console: every status and message text as a line, and the
// download and unpacking progress as a live line on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/ConsoleOutput.h"
#include "patch/PatchWorker.h"

namespace qr {

class ConsolePatchUi : public PatchUi {
public:
    ConsolePatchUi(std::shared_ptr<LauncherState> state, ConsoleOutput& out);
    ~ConsolePatchUi() override;

    void Invalidate(const ClientRect* area, bool erase) override;
    void StartExtractTimer() override;
    void StopExtractTimer() override;
    void ShowMessage(const std::string& text) override;
    void PatchFinished(bool success) override;

    bool finished() const { return finished_; }
    bool succeeded() const { return succeeded_; }

private:
    void PrintStatusIfChanged();
    void ShowDownloadProgress();
    std::string UnpackingText() const;
    void StopTicker();

    std::shared_ptr<LauncherState> state_;
    ConsoleOutput& out_;
    std::mutex mutex_;  // one writer of the console at a time
    std::string lastStatus_;
    int lastFileIndex_ = -1;
    std::chrono::steady_clock::time_point fileStart_;
    std::chrono::steady_clock::time_point lastProgress_;
    std::thread ticker_;
    std::condition_variable tickerWake_;
    bool tickerStop_ = false;
    std::string lastUnpacking_;
    std::atomic<bool> finished_{false}, succeeded_{false};
};

}  // namespace qr
