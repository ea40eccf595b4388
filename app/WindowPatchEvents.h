// The patch run as the launcher window shows it: each event of the worker becomes the launcher
// state, the bars, the start button and the areas of the window to repaint. Portable, so that what
// the window would show is tested without a window.
#pragma once

#include <memory>
#include <string>

#include "app/LauncherState.h"
#include "patch/PatchEvents.h"
#include "patch/PatchWorker.h"

namespace qr {

struct ClientRect {
    int left, top, right, bottom;
};

// What the window itself does for the patch run. Called on the worker thread: implementations hand
// each call to the window's thread and become no-ops once the window is gone.
class PatchUi {
public:
    virtual ~PatchUi() = default;
    virtual void Invalidate(const ClientRect* area, bool erase) = 0;  // null: the whole window
    virtual void StartExtractTimer() = 0;
    virtual void StopExtractTimer() = 0;
    virtual void ShowMessage(const std::string& text) = 0;  // modal, OK button only
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}
    // Told after the finish has updated the state (success or failure).
    virtual void PatchFinished(bool /*success*/) {}
};

class WindowPatchEvents : public PatchEvents {
public:
    WindowPatchEvents(std::shared_ptr<LauncherState> state, std::shared_ptr<PatchUi> ui)
        : state_(std::move(state)), ui_(std::move(ui)) {}

    void BusyChanged(bool busy) override;
    void StatusChanged(const std::string& text) override;
    void ServedVersionKnown(const std::string&) override {}  // the window shows no version
    void FilesPlanned(int count) override;
    void FileStarted(const FileStart& file) override;
    void BytesReceived(long long received, long long total) override;
    void FileFinished(int index) override;
    void ExtractStarted(const std::string& name) override;
    void ExtractFinished() override;
    void FileFailed(const std::string& name, const std::string& reason) override;
    void Finished(PatchOutcome outcome, const std::string& reason) override;

private:
    bool running() const { return state_->workerRunning.load(); }
    void BothBarsFull();

    std::shared_ptr<LauncherState> state_;
    std::shared_ptr<PatchUi> ui_;
};

// The window's finish: both bars to 1, status text, start button, readyToStart, repaints.
void OnPatchFinished(LauncherState& state, PatchUi& ui, bool success);

// A worker context that reports to the window through `ui` and takes what it needs of `state`.
PatchWorkerContext WindowWorkerContext(const std::shared_ptr<LauncherState>& state, std::shared_ptr<PatchUi> ui,
                                       std::shared_ptr<SettingsPlatform> settings);

}  // namespace qr
