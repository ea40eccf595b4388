#include "app/LauncherDialog_win.h"

#include <windowsx.h>

#include "app/LaunchArgs.h"
#include "app/LauncherIds_win.h"
#include "app/PatchListFetch_win.h"
#include "app/WebPages_win.h"
#include "app/WindowPatchEvents.h"
#include "app/WindowTexts.h"
#include "patch/PatchList.h"
#include "patch/PatchWorker.h"
#include "patch/SelfReplacingFileSystem.h"
#include "patch/ReleaseKey.h"
#include "platform/Cp949_win.h"
#include "platform/FileSystem.h"
#include "release/PatchListFile.h"
#include "release/ReleaseNames.h"
#include "ui/AppInfo.h"

namespace qr {
namespace {

constexpr UINT kAboutCommand = 16;
constexpr UINT_PTR kExtractTimer = 0;
constexpr UINT kExtractTimerPeriod = 10;
constexpr DWORD kCloseDelay = 100;
constexpr RECT kStatusRepaintArea{401, 88, 739, 130};
constexpr RECT kNewsViewArea{19, 78, 378, 311};

}  // namespace

LauncherDialog::LauncherDialog(HWND parent, std::shared_ptr<SettingsPlatform> settings)
    : ui::Dialog(ids::kLauncherDialog, parent),
      state_(std::make_shared<LauncherState>()),
      settings_(std::move(settings)) {
    state_->patchListName = kPatchListFileName;
    state_->patchListPath = ReadInstallDir() + state_->patchListName;
    // Blocks until the download has ended: the window only opens afterwards.
    FetchPatchList(PatchListAddress(), state_->patchListPath);
    icon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ids::kIcon));
}

LauncherDialog::~LauncherDialog() { SystemFileSystem().Remove(state_->patchListPath); }

INT_PTR LauncherDialog::DoModal() {
    LoadInstalledVersion(*state_, *settings_);
    return ui::Dialog::DoModal();
}

std::string LauncherDialog::ReadInstallDir() { return qr::ReadInstallDir(*state_, *settings_); }

void LauncherDialog::DoDataExchange() {
    totalProgress_.Attach(Item(ids::kTotalProgress));
    fileProgress_.Attach(Item(ids::kFileProgress));
    closeButton_.Attach(Item(ids::kCloseButton));
    startButton_.Attach(Item(ids::kStartButton));
    homeButton_.Attach(Item(ids::kHomeButton));
    // From here on the worker drives the real controls.
    state_->fileProgress = fileProgress_.slot();
    state_->totalProgress = totalProgress_.slot();
    state_->startButton = startButton_.slot();
}

bool LauncherDialog::OnInitDialog() {
    patchUi_ = std::make_shared<WindowPatchUi>(hwnd());
    DoDataExchange();
    AppendAboutItem();
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    SetWindowTextW(hwnd(), WidenCp949(kWindowTitle).c_str());
    if (!windowMark_.empty()) SetPropW(hwnd(), windowMark_.c_str(), reinterpret_cast<HANDLE>(1));
    EnableWindow(Item(ids::kStartButton), FALSE);
    fileProgress_.LoadFillBitmap(ids::kFileFillBitmap, true);
    fileProgress_.SetRange(0, 1);
    totalProgress_.LoadFillBitmap(ids::kTotalFillBitmap, true);
    totalProgress_.SetRange(0, 1);
    SizeAndCentre();
    PlaceControls();
    CreateNewsView();
    state_->readyToStart = false;
    StartWorkerOrComplain();
    return true;
}

void LauncherDialog::AppendAboutItem() {
    HMENU menu = GetSystemMenu(hwnd(), FALSE);
    if (!menu) return;
    const std::wstring about = ui::LoadResourceString(ids::kAboutString);
    if (about.empty()) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kAboutCommand, about.c_str());
}

// The frame is measured rather than computed from the system metrics, so the client area is
// exactly 740 x 330 whatever frame and caption the system draws.
void LauncherDialog::SizeAndCentre() {
    RECT outer, client;
    GetWindowRect(hwnd(), &outer);
    GetClientRect(hwnd(), &client);
    const int width = ids::kClientWidth + (outer.right - outer.left) - client.right;
    const int height = ids::kClientHeight + (outer.bottom - outer.top) - client.bottom;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(hwnd(), HWND_TOP, x, y, width, height, SWP_SHOWWINDOW);
}

void LauncherDialog::PlaceControls() {
    // The file bar keeps its template place below the visible area; only the total bar shows.
    MoveWindow(Item(ids::kTotalProgress), 415, 138, 296, 19, TRUE);
    homeButton_.LoadImages(ids::kHomeNormal, ids::kHomeHighlight, ids::kHomePressed);
    startButton_.LoadImages(ids::kStartNormal, ids::kStartHighlight, ids::kStartPressed);
    closeButton_.LoadImages(ids::kCloseNormal, ids::kCloseHighlight, ids::kClosePressed);
    MoveWindow(Item(ids::kHomeButton), 407, 230, 94, 45, TRUE);
    MoveWindow(Item(ids::kStartButton), 511, 218, 113, 58, TRUE);
    MoveWindow(Item(ids::kCloseButton), 631, 230, 94, 45, TRUE);
    SetWindowPos(Item(ids::kNewsPlaceholder), nullptr, kNewsViewArea.left, kNewsViewArea.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void LauncherDialog::CreateNewsView() {
    // The template's placeholder holds the view's place until the view exists; left visible, its
    // frame would paint over the view whenever the window is repainted.
    HWND placeholder = Item(ids::kNewsPlaceholder);
    newsView_ = std::make_unique<CMyHtmlView>();
    NewsViewOptions options;
    options.parent = hwnd();
    options.rect = kNewsViewArea;
    options.childId = ids::kNewsPlaceholder;
    options.fallbackBitmapId = ids::kBackgroundBitmap;
    if (newsView_->Create(options) && placeholder) ShowWindow(placeholder, SW_HIDE);
    std::string newsUrl;
    ReadPatchListValue(state_->patchListPath, kNewsUrlLine, newsUrl);
    newsView_->Navigate2(newsUrl);
    newsView_->OnInitialUpdate();
}

void LauncherDialog::StartWorkerOrComplain() {
    if (!state_->versionOk) {
        ui::ShowAppMessage(hwnd(), WidenCp949(kVersionErrorText));
        return;
    }
    state_->workerRunning = true;
    PatchWorkerContext context = WindowWorkerContext(state_, patchUi_, settings_);
    context.fileSystem = &SelfReplacingSystemFileSystem();  // a patch may bring the launcher itself
    context.releaseKeyPem = BuiltInReleaseKeyPem();
    workerThread_ = StartDetachedWorker([context]() mutable { PatchWorker(std::move(context)); });
    if (!workerThread_) state_->workerRunning = false;
}

bool LauncherDialog::PreTranslateMessage(MSG& msg) {
    // Keys inside the news page go to the browser control first, as the dialog's own keys would
    // otherwise take Tab and the page's shortcuts away from it.
    if (newsView_ && newsView_->TranslateAccelerator(msg)) return true;
    if (msg.message != WM_KEYDOWN) return false;
    if (msg.wParam == VK_ESCAPE) return true;  // Escape never closes the launcher
    if (msg.wParam == VK_RETURN) {
        if (state_->readyToStart) launchGame();
        return true;
    }
    return false;
}

bool LauncherDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam);
    case WM_PAINT:
        OnPaint();
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(icon_);
        return true;
    case WM_TIMER:
        OnTimer();
        return false;
    case WM_MOUSEMOVE:
        OnMouseMove();
        return false;
    case WM_LBUTTONDOWN:
        OnLButtonDown(lParam);
        return false;
    case WM_COMMAND:
        return OnCommand(wParam);
    case WM_DESTROY:
        OnDestroy();
        return false;
    case WM_CLOSE:
        OnClose();
        OnCancel();
        return true;
    case WM_SETCURSOR:
        if (!OnSetCursor(lParam)) return false;
        result = TRUE;
        return true;
    case kMsgExtractTimer:
        if (wParam)
            SetTimer(hwnd(), kExtractTimer, kExtractTimerPeriod, nullptr);
        else
            KillTimer(hwnd(), kExtractTimer);
        return true;
    case kMsgShowMessage:
        ui::ShowAppMessage(hwnd(), *reinterpret_cast<const std::wstring*>(lParam));
        return true;
    case kMsgWaitCursor:
        waitCursorDepth_ += wParam ? 1 : -1;
        if (waitCursorDepth_ < 0) waitCursorDepth_ = 0;
        return true;
    default:
        return false;
    }
}

bool LauncherDialog::OnSysCommand(WPARAM command) {
    // The About item has nothing to show.
    return (command & 0xFFF0) == kAboutCommand;
}

void LauncherDialog::OnTimer() {
    if (state_->extractTotal != 0) InvalidateRect(hwnd(), &kStatusRepaintArea, FALSE);
}

void LauncherDialog::OnMouseMove() {
    homeButton_.ShowNormal();
    startButton_.ShowNormal();
    closeButton_.ShowNormal();
}

// A press on the background drags the whole window, as a press on a caption would. The move loop
// takes its starting point from the message, so it gets the press in screen coordinates.
void LauncherDialog::OnLButtonDown(LPARAM position) {
    POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ClientToScreen(hwnd(), &point);
    PostMessageW(hwnd(), WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
}

bool LauncherDialog::OnCommand(WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) return false;
    switch (LOWORD(wParam)) {
    case ids::kHomeButton:
        openHomePage();
        return true;
    case ids::kStartButton:
        launchGame();
        return true;
    case ids::kCloseButton:
        closeLauncher();
        return true;
    default:
        return false;
    }
}

void LauncherDialog::openHomePage() {
    switch (ChooseHomeButtonPage(state_->siteCode)) {
    case HomeButtonPage::HomePage:
        OpenPageThroughExplorer(kHomePageUrl);
        break;
    case HomeButtonPage::PartnerPortal:
        OpenPageThroughExplorer(kPartnerPortalUrl);
        break;
    case HomeButtonPage::None:
        break;
    }
}

// The close paths ask the worker to stop; they never wait for it.
void LauncherDialog::StopWorker() { state_->workerRunning = false; }

void LauncherDialog::DeletePatchInfo() { SystemFileSystem().Remove(ReadInstallDir() + kPatchInfoFileName); }

void LauncherDialog::closeLauncher() {
    Sleep(kCloseDelay);
    StopWorker();
    OnCancel();
}

void LauncherDialog::OnClose() {
    Sleep(kCloseDelay);
    StopWorker();
    DeletePatchInfo();
}

void LauncherDialog::OnDestroy() {
    Sleep(kCloseDelay);
    StopWorker();
    // From now on the worker's calls on the window do nothing.
    if (patchUi_) patchUi_->Detach();
    if (!windowMark_.empty()) RemovePropW(hwnd(), windowMark_.c_str());
    KillTimer(hwnd(), kExtractTimer);
    DeletePatchInfo();
}

bool LauncherDialog::OnSetCursor(LPARAM hitTest) {
    if (waitCursorDepth_ == 0 || LOWORD(hitTest) != HTCLIENT) return false;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    return true;
}

}  // namespace qr
