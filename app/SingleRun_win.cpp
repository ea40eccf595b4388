#include "app/SingleRun_win.h"

#include "platform/Cp949_win.h"

namespace qr {
namespace {

struct Search {
    const std::wstring* mark;
    HWND found;
};

BOOL CALLBACK CheckWindow(HWND hwnd, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (IsWindowVisible(hwnd) && GetPropW(hwnd, search->mark->c_str())) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindMarkedWindow(const std::wstring& mark) {
    Search search{&mark, nullptr};
    EnumWindows(&CheckWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

std::wstring RunWindowMark(const std::string& lockName) { return L"QuorvelLauncher.Run." + WidenCp949(lockName); }

bool BringMarkedWindowToFront(const std::wstring& mark, DWORD waitMs) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        if (HWND window = FindMarkedWindow(mark)) {
            if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
            // Activation alone does not raise it above every other window everywhere (Wine).
            SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
            SetForegroundWindow(window);
            return true;
        }
        if (GetTickCount64() >= deadline) return false;
        Sleep(100);
    }
}

}  // namespace qr
