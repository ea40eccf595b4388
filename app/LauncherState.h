// The state that start-up, the window and its patch events share. It is held by shared ownership
// between the window and the worker thread, so the worker can never outlive what it writes to;
// everything the two threads exchange is atomic or guarded.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/GuardedString.h"
#include "patch/PatchEvents.h"
#include "patch/PatchWorker.h"
#include "patch/SettingsPlatform.h"
#include "release/ReleaseNames.h"
#include "skin/ControlSlots.h"

namespace qr {

// The run control (stop flag, extraction counters) is the part the worker itself sees.
struct LauncherState : PatchRunControl {
    LauncherState()
        : fileProgress(std::make_shared<RecordingProgressSlot>()),
          totalProgress(std::make_shared<RecordingProgressSlot>()),
          startButton(std::make_shared<RecordingButtonSlot>()) {}
    LauncherState(const LauncherState&) = delete;
    LauncherState& operator=(const LauncherState&) = delete;

    GuardedString extractName;
    std::atomic<int> archiveIndex{0};
    std::atomic<int> archiveCount{0};
    // 64-bit: a download past 2 GiB is counted, and shown, in whole bytes.
    std::atomic<long long> bytesReceived{0};
    std::atomic<long long> bytesTotal{0};
    GuardedString statusText{kInitialStatusText};
    std::atomic<bool> readyToStart{false};
    // Written on the UI thread before the worker starts; the worker gets its own copies.
    std::string installedVersion;
    std::string patchListPath;
    std::string patchListName = kPatchListFileName;
    bool versionOk = false;
    // Slots are shared too: a slot outlives its control and becomes a no-op when the control goes.
    std::shared_ptr<ProgressSlot> fileProgress;
    std::shared_ptr<ProgressSlot> totalProgress;
    std::string gameArgs;
    GuardedString installDir;  // refreshed from the registry whenever it is needed
    int siteCode = 0;
    std::shared_ptr<ButtonSlot> startButton;
};

// Refreshes state.installDir (install path + "\") when the install path is configured, keeps the
// previous value otherwise, and returns it.
std::string ReadInstallDir(LauncherState& state, SettingsPlatform& settings);

// Loads installedVersion from "VersionInfo.ini" [VERSION] version; versionOk when it is not "NULL".
void LoadInstalledVersion(LauncherState& state, SettingsPlatform& settings);

}  // namespace qr
