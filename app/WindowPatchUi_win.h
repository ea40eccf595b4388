// The launcher window's side of the patch run. Every call arrives on the worker thread and is
// handed to the window's thread; once the window is gone each call does nothing.
#pragma once

#include <windows.h>

#include <atomic>

#include "app/WindowPatchEvents.h"

namespace qr {

// Private messages of the launcher window, sent or posted by WindowPatchUi.
inline constexpr UINT kMsgExtractTimer = WM_APP + 1;  // wParam 1: start timer 0, 0: stop it
inline constexpr UINT kMsgShowMessage = WM_APP + 2;   // lParam: const std::wstring*; sent, so modal
inline constexpr UINT kMsgWaitCursor = WM_APP + 3;    // wParam 1: begin, 0: end

class WindowPatchUi : public PatchUi {
public:
    explicit WindowPatchUi(HWND window) : window_(window) {}
    // Called by the window when it is destroyed.
    void Detach() { window_.store(nullptr); }

    void Invalidate(const ClientRect* area, bool erase) override;
    void StartExtractTimer() override;
    void StopExtractTimer() override;
    void ShowMessage(const std::string& text) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

private:
    std::atomic<HWND> window_;
};

}  // namespace qr
