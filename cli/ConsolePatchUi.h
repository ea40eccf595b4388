// The patch run told on a console: every status and message text as a line, the reason of every
// failure as a line, and the download and unpacking progress as a live line on a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/ConsoleOutput.h"
#include "patch/PatchEvents.h"

namespace qr {

class ConsolePatchUi : public PatchEvents {
public:
    // `shownStatus` is the status line already on the console.
    ConsolePatchUi(std::shared_ptr<PatchRunControl> control, ConsoleOutput& out, std::string shownStatus);
    ~ConsolePatchUi() override;

    void BusyChanged(bool) override {}
    void StatusChanged(const std::string& text) override;
    void ServedVersionKnown(const std::string&) override {}
    void FilesPlanned(int) override {}
    void FileStarted(const FileStart& file) override;
    void BytesReceived(long long received, long long total) override;
    void FileFinished(int) override {}
    void ExtractStarted(const std::string& name) override;
    void ExtractFinished() override;
    void FileFailed(const std::string& name, const std::string& reason) override;
    void Finished(PatchOutcome outcome, const std::string& reason) override;

    bool succeeded() const { return succeeded_; }

private:
    void ShowStatus(const std::string& status);  // the caller holds mutex_
    std::string UnpackingText(int percent) const;
    int UnpackingPercent() const;
    void StopTicker();

    std::shared_ptr<PatchRunControl> control_;
    ConsoleOutput& out_;
    std::mutex mutex_;  // one writer of the console at a time
    std::string lastStatus_;
    int fileIndex_ = 0, fileCount_ = 0;
    long long resumedFrom_ = 0;  // bytes an earlier run kept: not part of this run's rate
    int failuresShown_ = 0;
    std::chrono::steady_clock::time_point fileStart_;
    std::chrono::steady_clock::time_point lastProgress_;
    bool runStarted_ = false;
    std::chrono::steady_clock::time_point runStart_;  // the first file's start
    std::thread ticker_;
    std::condition_variable tickerWake_;
    bool tickerStop_ = false;
    std::string extractName_;
    std::string lastUnpacking_;
    std::atomic<bool> succeeded_{false};
};

}  // namespace qr
