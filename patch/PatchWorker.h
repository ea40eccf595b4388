// The whole patch procedure, run on a thread of its own: patch description, version comparison,
// downloads with progress, archive extraction, version record, and the finish shown by the window.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/LauncherState.h"
#include "patch/SettingsPlatform.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"

namespace qr {

struct ClientRect {
    int left, top, right, bottom;
};

// What the worker asks of the window. Called on the worker thread: implementations hand each call
// to the UI thread and become no-ops once the window is gone.
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

struct PatchWorkerContext {
    std::shared_ptr<LauncherState> state;
    std::shared_ptr<PatchUi> ui;
    std::shared_ptr<SettingsPlatform> settings;
    FileSystem* fileSystem = &SystemFileSystem();
    std::function<std::unique_ptr<HttpSession>(const std::string& agent)> openSession = OpenHttpSession;
    // The release key as PEM; empty when none is built in. With a key the description must be signed
    // and every item described by its digest line.
    std::string releaseKeyPem;
};

// Runs the procedure on the calling thread; returns 1 on every path. The window sets
// state->workerRunning before it starts the thread.
int PatchWorker(PatchWorkerContext context);

// The window's finish: both bars to 1, status text, start button, readyToStart, repaints.
void OnPatchFinished(LauncherState& state, PatchUi& ui, bool success);

// Texts the worker shows.
inline constexpr const char kTextNoInternet[] =
    "패치 서버에 접속할 수 없습니다. 내부 패치 중입니다. 홈페이지를 이용하세요";
inline constexpr const char kTextFetchingInfo[] = "패치정보를 받고 있습니다.";
inline constexpr const char kTextReceivingFormat[] = "%s 받는 중";
inline constexpr const char kTextRunAgain[] = "다시 실행 하시기 바랍니다.";
inline constexpr const char kTextInfoFailed[] = "패치 정보를 받는데 실패했습니다. 다시 실행 하시기 바랍니다.";
inline constexpr const char kTextSuccess[] = "패치가 완료되었습니다. GAME START 버튼을 눌러주세요.";
inline constexpr const char kTextFailure[] = "패치가 실패하였습니다. 다시 실행하시기 바랍니다.";

}  // namespace qr
