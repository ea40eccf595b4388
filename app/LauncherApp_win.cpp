// Process start-up: sockets, control hosting, the launcher window or, for a plain start, a web page.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>
#include <winsock2.h>

#include <memory>
#include <string>
#include <vector>

#include "app/LaunchArgs.h"
#include "app/LauncherDialog_win.h"
#include "app/LauncherIds_win.h"
#include "app/NewsView_win.h"
#include "app/SingleRun_win.h"
#include "app/WebPages_win.h"
#include "patch/SelfReplacingFileSystem.h"
#include "patch/SettingsPlatform.h"
#include "platform/Cp949_win.h"
#include "platform/InstallLock.h"
#include "ui/AppInfo.h"
#include "ui/OleScope.h"

namespace qr {
namespace {

// How long the process lets a stopping worker keep its partial download (file and record) before it ends.
constexpr DWORD kWorkerGraceMs = 3000;
// How long a second launcher looks for the first one's window, which opens only once that one has
// fetched its patch list.
constexpr DWORD kFindRunWindowMs = 5000;
constexpr char kAnotherRunText[] = "이미 패치가 진행 중입니다. 패치가 끝난 후에 다시 실행하여 주시기 바랍니다.";

class SocketLayer {
public:
    SocketLayer() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(1, 1), &data) == 0;
    }
    ~SocketLayer() {
        if (started_) WSACleanup();
    }
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;
    bool started() const { return started_; }

private:
    bool started_ = false;
};

// The argument vector as the runtime splits the command line, in code page 949 like every text
// of the launcher; taken from the wide command line so no argument depends on the system's code page.
std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return args;
    for (int i = 0; i < count; ++i) args.push_back(NarrowCp949(wide[i]));
    LocalFree(wide);
    return args;
}

// The standard controls of the template (the progress bars) need their classes registered.
void EnableControlLook() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
}

void OpenPlainStartPage() {
    const std::string memberId = ReadSystemProfileString("Member", "id", "", ".\\option.ini", 10);
    OpenPageDirectly(ChoosePlainStartPage(memberId) == PlainStartPage::PartnerPortal ? kPartnerPortalUrl
                                                                                    : kHomePageUrl);
}

}  // namespace

class LauncherApp {
public:
    bool InitInstance();
};

bool LauncherApp::InitInstance() {
    SocketLayer sockets;
    if (!sockets.started()) {
        ui::ShowAppMessage(nullptr, ui::LoadResourceString(ids::kSocketErrorString));
        return false;
    }
    ui::OleScope ole;
    EnableControlHosting();
    EnableControlLook();

    std::shared_ptr<SettingsPlatform> settings = MakeRegistrySettings();
    const std::string installPath = settings->ReadInstallPath().value_or(std::string());
    const LaunchDecision launch = DecideLaunch(CommandLineArguments());
    // Held until start-up returns and the process ends: another launcher or quorvel-patch on this install directory
    // would write the same files and delete this run's patch list.
    const InstallLockResult run = TryLockInstall(installPath);
    if (run.status == InstallLockStatus::HeldElsewhere) {
        if (!launch.showWindow) {
            OpenPlainStartPage();  // without fetching a patch list over the running one's
        } else if (!BringMarkedWindowToFront(RunWindowMark(InstallLockName(installPath)), kFindRunWindowMs)) {
            ui::ShowAppMessage(nullptr, WidenCp949(kAnotherRunText));  // quorvel-patch has no window
        }
        return false;
    }
    RemoveMovedAsideProgram();

    std::shared_ptr<WorkerCompletion> worker;
    {
        LauncherDialog dialog(nullptr, settings);
        if (launch.showWindow) {
            dialog.markWindow(RunWindowMark(InstallLockName(installPath)));
            dialog.state().gameArgs = launch.gameArgs;
            dialog.state().siteCode = launch.siteCode;
            dialog.DoModal();
            worker = dialog.worker();
        } else {
            OpenPlainStartPage();
        }
    }
    // The window is gone and has asked the worker to stop; a worker that notices soon keeps its
    // partial download with the record a later run resumes from, instead of leaving it unrecorded.
    // One that is still busy after that must not see the sockets, the file-system objects and the
    // other statics torn down under it: the process ends here, and the system stops every other
    // thread before anything is released.
    if (worker && !worker->WaitWhilePumping(kWorkerGraceMs)) ExitProcess(0);
    return false;
}

}  // namespace qr

namespace {
qr::LauncherApp theApp;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Start-up always answers false: the process ends once the window (or the page) is done.
    theApp.InitInstance();
    return 0;
}
