// The slots through which the patch worker drives the skinned controls from its own thread. Each
// call is handed to the control's thread with SendMessage of a private message to the control, so
// it completes only once that thread has handled it; the blink timer is created there too.
// A call after the control has gone is a no-op.
#pragma once

#include <windows.h>

#include <atomic>

#include "skin/ControlSlots.h"

namespace qr::skin {

// Private messages to the control itself (wParam, lParam as named).
enum SlotMessage : UINT {
    kSlotSetRange32 = WM_APP + 0x2A0,  // lower, upper
    kSlotSetPos,                        // position, 0; answers the previous position
    kSlotEnable,                        // enabled, 0
    kSlotStartBlink,                    // 0, 0
    kSlotSetRange,                      // lower, upper (the 16-bit range, from another thread)
};

// The control a slot talks to; cleared on the control's thread when the control goes.
class ControlTarget {
public:
    void Bind(HWND control) { control_.store(control); }
    void Unbind() { control_.store(nullptr); }
    // Sends without holding anything across the call; 0 when no control is bound.
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const;

private:
    std::atomic<HWND> control_{nullptr};
};

class WindowProgressSlot : public qr::ProgressSlot {
public:
    void SetRange32(int lower, int upper) override;
    void SetPos(int position) override;
    ControlTarget& target() { return target_; }

private:
    ControlTarget target_;
};

class WindowButtonSlot : public qr::ButtonSlot {
public:
    void Enable(bool enabled) override;
    void StartBlink() override;
    ControlTarget& target() { return target_; }

private:
    ControlTarget target_;
};

// Packing of signed ints into message parameters and back.
inline WPARAM IntToWParam(int value) { return static_cast<WPARAM>(static_cast<INT_PTR>(value)); }
inline LPARAM IntToLParam(int value) { return static_cast<LPARAM>(value); }
inline int WParamToInt(WPARAM value) { return static_cast<int>(static_cast<INT_PTR>(value)); }
inline int LParamToInt(LPARAM value) { return static_cast<int>(value); }

// True when the calling thread is not the one that owns `window` (so a call must be handed over).
bool OnOtherThread(HWND window);

}  // namespace qr::skin
