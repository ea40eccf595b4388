#include "ui/ControlKeys.h"

#include <ole2.h>

#include "ui/ComPtr.h"

namespace qr::ui {

bool ForwardKeyToControl(HWND site, IUnknown* control, MSG& msg) {
    if (!control || !site || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.hwnd != site && !IsChild(site, msg.hwnd)) return false;
    ComPtr<IOleInPlaceActiveObject> active;
    if (FAILED(control->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(active.Receive()))) ||
        !active)
        return false;
    return active->TranslateAccelerator(&msg) == S_OK;
}

}  // namespace qr::ui
