// A window stand-in for worker tests: every call the worker makes on the window, its bars and its
// start button lands in one ordered event log.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/LauncherState.h"
#include "app/WindowPatchEvents.h"

namespace qr::test {

class EventLog {
public:
    void Add(std::string event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> Events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // Events starting with `prefix`, in order.
    std::vector<std::string> With(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : Events())
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
    bool Has(const std::string& event) const {
        for (const auto& e : Events())
            if (e == event) return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class LoggingProgress : public RecordingProgressSlot {
public:
    LoggingProgress(std::shared_ptr<EventLog> log, std::string name) : log_(std::move(log)), name_(std::move(name)) {}
    void SetRange32(int lower, int upper) override {
        RecordingProgressSlot::SetRange32(lower, upper);
        log_->Add(name_ + ".range " + std::to_string(lower) + " " + std::to_string(upper));
    }
    void SetPos(int position) override {
        RecordingProgressSlot::SetPos(position);
        log_->Add(name_ + ".pos " + std::to_string(position));
    }

private:
    std::shared_ptr<EventLog> log_;
    std::string name_;
};

class LoggingButton : public RecordingButtonSlot {
public:
    explicit LoggingButton(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
    void Enable(bool enabled) override {
        RecordingButtonSlot::Enable(enabled);
        log_->Add(enabled ? "button.enable" : "button.disable");
    }
    void StartBlink() override {
        RecordingButtonSlot::StartBlink();
        log_->Add("button.blink");
    }

private:
    std::shared_ptr<EventLog> log_;
};

class RecordingUi : public PatchUi {
public:
    RecordingUi(std::shared_ptr<LauncherState> state, std::shared_ptr<EventLog> log)
        : state_(std::move(state)), log_(std::move(log)) {}
    void Invalidate(const ClientRect* area, bool erase) override {
        std::string e = "invalidate ";
        e += area ? std::to_string(area->left) + "," + std::to_string(area->top) + "," +
                        std::to_string(area->right) + "," + std::to_string(area->bottom)
                  : "all";
        log_->Add(e + (erase ? " erase" : ""));
        statusSeen.push_back(state_->statusText.Get());
    }
    void StartExtractTimer() override { log_->Add("timer.start"); }
    void StopExtractTimer() override { log_->Add("timer.stop"); }
    void ShowMessage(const std::string& text) override { log_->Add("message " + text); }
    void BeginWaitCursor() override { log_->Add("cursor.begin"); }
    void EndWaitCursor() override {
        if (onCursorEnd) onCursorEnd();
        log_->Add("cursor.end");
    }
    void PatchFinished(bool success) override { log_->Add(success ? "finished ok" : "finished failed"); }

    std::vector<std::string> statusSeen;
    std::function<void()> onCursorEnd;

private:
    std::shared_ptr<LauncherState> state_;
    std::shared_ptr<EventLog> log_;
};

// A launcher state whose slots log into `log`.
inline std::shared_ptr<LauncherState> MakeLoggedState(const std::shared_ptr<EventLog>& log) {
    auto state = std::make_shared<LauncherState>();
    state->fileProgress = std::make_shared<LoggingProgress>(log, "file");
    state->totalProgress = std::make_shared<LoggingProgress>(log, "total");
    state->startButton = std::make_shared<LoggingButton>(log);
    return state;
}

}  // namespace qr::test
