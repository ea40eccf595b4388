// Keys for a hosted ActiveX control: its container must offer each key message meant for the
// control to the control's IOleInPlaceActiveObject::TranslateAccelerator before the dialog manager
// sees it, or the control never gets Tab, arrows in its own fields, or its shortcuts.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace qr::ui {

// Offers `msg` to `control` when it is a key message addressed to `site` or a window inside it.
// True when the control took it (S_OK): the message is then not processed further.
bool ForwardKeyToControl(HWND site, IUnknown* control, MSG& msg);

}  // namespace qr::ui
