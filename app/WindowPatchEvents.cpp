#include "app/WindowPatchEvents.h"

#include "patch/ByteProgress.h"
#include "patch/RunLog.h"

namespace qr {
namespace {

// The window's rows of text: the file counter, the status line and the byte counter.
constexpr ClientRect kFileCounterArea{473, 63, 623, 75};
constexpr ClientRect kStatusLineArea{401, 88, 816, 100};
constexpr ClientRect kByteCounterArea{629, 63, 819, 75};

}  // namespace

void WindowPatchEvents::BusyChanged(bool busy) {
    if (busy)
        ui_->BeginWaitCursor();
    else
        ui_->EndWaitCursor();
}

void WindowPatchEvents::StatusChanged(const std::string& text) {
    state_->statusText.Set(text);
    ui_->Invalidate(nullptr, false);
}

void WindowPatchEvents::FilesPlanned(int count) { state_->totalProgress->SetRange32(0, count); }

// A resumed file's bar and counter start at the kept bytes.
void WindowPatchEvents::FileStarted(const FileStart& file) {
    const ByteProgress bar(file.total);
    if (running()) state_->fileProgress->SetRange32(0, bar.Upper());
    if (file.resumedFrom > 0) {
        if (running()) state_->fileProgress->SetPos(bar.Position(file.resumedFrom));
        state_->bytesReceived = file.resumedFrom;
        state_->bytesTotal = bar.Length();
    }
    state_->statusText.Set(ReceivingStatusText(file.name));
    state_->archiveIndex = file.index;
    state_->archiveCount = file.count;
    ui_->Invalidate(&kFileCounterArea, false);
    ui_->Invalidate(&kStatusLineArea, false);
}

void WindowPatchEvents::BytesReceived(long long received, long long total) {
    const ByteProgress bar(total);
    if (running()) state_->fileProgress->SetPos(bar.Position(received));
    state_->bytesReceived = received;
    state_->bytesTotal = bar.Length();
    ui_->Invalidate(&kByteCounterArea, false);
}

// The total bar stands one file behind: it shows the files before the one just finished.
void WindowPatchEvents::FileFinished(int index) {
    if (running()) state_->totalProgress->SetPos(index - 1);
}

void WindowPatchEvents::ExtractStarted(const std::string& name) {
    state_->extractName.Set(name);
    ui_->StartExtractTimer();
}

void WindowPatchEvents::ExtractFinished() {
    ui_->StopExtractTimer();
    ui_->Invalidate(nullptr, true);
}

// The window has no place for the reason; the worker has traced it.
void WindowPatchEvents::FileFailed(const std::string&, const std::string&) {}

void WindowPatchEvents::BothBarsFull() {
    state_->fileProgress->SetRange32(0, 1);
    state_->totalProgress->SetRange32(0, 1);
}

void WindowPatchEvents::Finished(PatchOutcome outcome, const std::string&) {
    switch (outcome) {
        case PatchOutcome::Succeeded:
        case PatchOutcome::Failed:
            BothBarsFull();
            OnPatchFinished(*state_, *ui_, outcome == PatchOutcome::Succeeded);
            break;
        case PatchOutcome::Stopped:
            break;
        case PatchOutcome::NoConnection:
            ui_->ShowMessage(kTextNoInternet);
            break;
        case PatchOutcome::DescriptionUnavailable:
            if (running()) BothBarsFull();
            state_->statusText.Set(kTextRunAgain);
            ui_->Invalidate(nullptr, false);
            if (running()) ui_->ShowMessage(kTextInfoFailed);
            break;
    }
}

void OnPatchFinished(LauncherState& state, PatchUi& ui, bool success) {
    state.fileProgress->SetPos(1);
    state.totalProgress->SetPos(1);
    if (success) {
        state.statusText.Set(kTextSuccess);
        state.startButton->Enable(true);
        state.startButton->StartBlink();
        state.readyToStart = true;
        ui.Invalidate(nullptr, true);
        ui.Invalidate(nullptr, false);
    } else {
        state.statusText.Set(kTextFailure);
        state.readyToStart = false;
        ui.Invalidate(nullptr, false);
    }
    ui.PatchFinished(success);
}

PatchWorkerContext WindowWorkerContext(const std::shared_ptr<LauncherState>& state, std::shared_ptr<PatchUi> ui,
                                       std::shared_ptr<SettingsPlatform> settings) {
    PatchWorkerContext context;
    context.control = state;
    context.installedVersion = state->installedVersion;
    context.installDir = state->installDir.Get();
    context.events = std::make_shared<RunLogEvents>(std::make_shared<WindowPatchEvents>(state, std::move(ui)),
                                                    SystemFileSystem(), context.installDir, context.installedVersion);
    context.settings = std::move(settings);
    context.patchListPath = state->patchListPath;
    return context;
}

}  // namespace qr
