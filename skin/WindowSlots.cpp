#include "skin/WindowSlots.h"

namespace qr::skin {

LRESULT ControlTarget::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    // The handle is copied out first; if the control goes in between, SendMessage to the dead
    // handle fails harmlessly.
    HWND control = control_.load();
    if (!control) return 0;
    return SendMessageW(control, message, wParam, lParam);
}

void WindowProgressSlot::SetRange32(int lower, int upper) {
    target_.Send(kSlotSetRange32, IntToWParam(lower), IntToLParam(upper));
}

void WindowProgressSlot::SetPos(int position) {
    target_.Send(kSlotSetPos, IntToWParam(position), 0);
}

void WindowButtonSlot::Enable(bool enabled) {
    target_.Send(kSlotEnable, enabled ? 1 : 0, 0);
}

void WindowButtonSlot::StartBlink() { target_.Send(kSlotStartBlink, 0, 0); }

bool OnOtherThread(HWND window) {
    return window && GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId();
}

}  // namespace qr::skin
