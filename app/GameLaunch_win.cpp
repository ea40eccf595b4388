// Starting the game once patching has succeeded; the launcher closes whether or not it started.
#include <vector>

#include "app/LauncherDialog_win.h"
#include "app/WindowTexts.h"
#include "patch/InstallVerify.h"
#include "patch/ReleaseKey.h"
#include "platform/Cp949_win.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

constexpr UINT_PTR kExtractTimer = 0;

class ProcessHandles {
public:
    ProcessHandles() = default;
    ~ProcessHandles() {
        if (info.hThread) CloseHandle(info.hThread);
        if (info.hProcess) CloseHandle(info.hProcess);
    }
    ProcessHandles(const ProcessHandles&) = delete;
    ProcessHandles& operator=(const ProcessHandles&) = delete;
    PROCESS_INFORMATION info{};
};

}  // namespace

void LauncherDialog::launchGame() {
    // A second press before the close request is handled must not start a second game.
    if (gameStarted_) return;
    gameStarted_ = true;

    KillTimer(hwnd(), kExtractTimer);
    state_->fileProgress->SetPos(1);
    state_->totalProgress->SetPos(1);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;

    const std::string installDir = ReadInstallDir();
    const std::string gamePath = installDir + kGameFileName;
    const std::wstring executable = WidenCp949(gamePath);
    // The command line is the launcher's own arguments exactly as they came, the first one being
    // what the game sees as its program name. The call may write to the buffer.
    const std::wstring args = WidenCp949(state_->gameArgs);
    std::vector<wchar_t> commandLine(args.begin(), args.end());
    commandLine.push_back(L'\0');
    // The game runs in its install directory, also on a run that had nothing to fetch (which
    // leaves the launcher's own directory current).
    const std::wstring workingDir = WidenCp949(installDir);

    // With a release key the launcher, elevated, starts only the program the verified release names:
    // the install directory comes from the user's settings, which any program of the user can change.
    const bool released = *BuiltInReleaseKeyPem() == '\0' ||
                          GameMatchesDigest(SystemFileSystem(), gamePath, state_->verifiedGameDigest.Get());
    ProcessHandles process;
    if (!released ||
        !CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &process.info)) {
        const DWORD error = released ? GetLastError() : kErrorInvalidImageHash;
        MessageBoxW(hwnd(), WidenCp949(GameStartErrorText(error)).c_str(), WidenCp949(kGameStartBoxTitle).c_str(),
                    MB_OK | MB_ICONSTOP);
    }
    PostMessageW(hwnd(), WM_CLOSE, 0, 0);
}

}  // namespace qr
