// The launcher window: the skinned 740 x 330 dialog that shows the patch run, hosts the news view
// and carries the player's three commands (home page, game start, quit).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/LauncherState.h"
#include "app/NewsView_win.h"
#include "app/WindowPatchUi_win.h"
#include "app/WorkerThread_win.h"
#include "patch/SettingsPlatform.h"
#include "skin/SkinButton.h"
#include "skin/SkinProgress.h"
#include "ui/Dialog.h"

namespace qr {

class LauncherDialog : public ui::Dialog {
public:
    // Fetches the patch list into the install directory before the window exists.
    LauncherDialog(HWND parent, std::shared_ptr<SettingsPlatform> settings);
    ~LauncherDialog() override;

    // Loads the installed version, then runs the window until it closes.
    INT_PTR DoModal() override;

    LauncherState& state() { return *state_; }
    // The worker of this run, or null when none was started (or the close paths forgot it).
    std::shared_ptr<WorkerCompletion> worker() const { return workerThread_; }

    void launchGame();
    // A window property set on the window while it exists, by which another launcher finds it.
    void markWindow(std::wstring mark) { windowMark_ = std::move(mark); }

protected:
    bool OnInitDialog() override;
    bool PreTranslateMessage(MSG& msg) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void DoDataExchange();
    void AppendAboutItem();
    void SizeAndCentre();
    void PlaceControls();
    void CreateNewsView();
    void StartWorkerOrComplain();

    void OnPaint();
    void PaintMinimised();
    bool OnSysCommand(WPARAM command);
    void OnTimer();
    void OnMouseMove();
    void OnLButtonDown(LPARAM position);
    bool OnCommand(WPARAM wParam);
    void openHomePage();
    void closeLauncher();
    void OnClose();
    void OnDestroy();
    bool OnSetCursor(LPARAM hitTest);

    void StopWorker();
    std::string ReadInstallDir();
    void DeletePatchInfo();

    std::shared_ptr<LauncherState> state_;
    std::shared_ptr<SettingsPlatform> settings_;
    SkinButton closeButton_;
    SkinButton startButton_;
    SkinButton homeButton_;
    SkinProgress fileProgress_;
    SkinProgress totalProgress_;
    HICON icon_ = nullptr;
    std::shared_ptr<WorkerCompletion> workerThread_;
    std::unique_ptr<CMyHtmlView> newsView_;
    std::shared_ptr<WindowPatchUi> patchUi_;
    int waitCursorDepth_ = 0;
    bool gameStarted_ = false;
    std::wstring windowMark_;
};

}  // namespace qr
