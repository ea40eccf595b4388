// The state that start-up, the window, the settings, the patch worker and the archive extraction
// share. It is held by shared ownership between the window and the worker thread, so the worker can
// never outlive what it writes to; everything the two threads exchange is atomic or guarded.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/GuardedString.h"

namespace qr {

// What the worker drives of a progress bar. Implementations may be called from either thread and
// must forward to the thread that owns the control without holding a lock across the hand-over.
class ProgressSlot {
public:
    virtual ~ProgressSlot() = default;
    virtual void SetRange32(int lower, int upper) = 0;
    virtual void SetPos(int position) = 0;
};

// What the worker's finish drives of the start button.
class ButtonSlot {
public:
    virtual ~ButtonSlot() = default;
    virtual void Enable(bool enabled) = 0;
    virtual void StartBlink() = 0;
};

// Stand-in slots used until a real control is attached (and by the headless patcher where a bar has
// no use): they remember the last values so tests can look at them.
class RecordingProgressSlot : public ProgressSlot {
public:
    void SetRange32(int lower, int upper) override {
        lower_ = lower;
        upper_ = upper < lower ? lower : upper;
    }
    void SetPos(int position) override {
        int lower = lower_.load(), upper = upper_.load();
        if (position < lower) position = lower;
        if (position > upper) position = upper;  // the upper bound wins over the lower one
        pos_ = position;
    }
    int lower() const { return lower_; }
    int upper() const { return upper_; }
    int pos() const { return pos_; }

private:
    std::atomic<int> lower_{0}, upper_{1}, pos_{0};
};

class RecordingButtonSlot : public ButtonSlot {
public:
    void Enable(bool enabled) override { enabled_ = enabled; }
    void StartBlink() override { blinking_ = true; }
    bool enabled() const { return enabled_; }
    bool blinking() const { return blinking_; }

private:
    std::atomic<bool> enabled_{false}, blinking_{false};
};

inline constexpr const char kInitialStatusText[] = "서버에 접속 중입니다..";
inline constexpr const char kPatchListName[] = "patch.txt";

struct LauncherState {
    LauncherState()
        : fileProgress(std::make_shared<RecordingProgressSlot>()),
          totalProgress(std::make_shared<RecordingProgressSlot>()),
          startButton(std::make_shared<RecordingButtonSlot>()) {}
    LauncherState(const LauncherState&) = delete;
    LauncherState& operator=(const LauncherState&) = delete;

    std::atomic<bool> workerRunning{false};
    GuardedString extractName;
    std::atomic<int> extractDone{0};
    std::atomic<int> extractTotal{0};
    std::atomic<int> archiveIndex{0};
    std::atomic<int> archiveCount{0};
    // 64-bit: a download past 2 GiB is counted, and shown, in whole bytes.
    std::atomic<long long> bytesReceived{0};
    std::atomic<long long> bytesTotal{0};
    GuardedString statusText{kInitialStatusText};
    std::atomic<bool> readyToStart{false};
    // Written on the UI thread before the worker starts, read only by the worker afterwards.
    std::string installedVersion;
    std::string currentFile;  // worker only
    std::string patchListPath;
    std::string patchListName = kPatchListName;
    bool versionOk = false;
    // Slots are shared too: a slot outlives its control and becomes a no-op when the control goes.
    std::shared_ptr<ProgressSlot> fileProgress;
    std::shared_ptr<ProgressSlot> totalProgress;
    std::string gameArgs;
    GuardedString installDir;  // both threads refresh it from the registry
    int siteCode = 0;
    std::shared_ptr<ButtonSlot> startButton;
};

}  // namespace qr
