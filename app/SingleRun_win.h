// The launcher's side of "one patch run per install directory": the window of the run that holds
// the install directory's lock carries a mark, and a second launcher for that directory finds the
// window by it and brings it to the front instead of starting a run of its own.
#pragma once

#include <windows.h>

#include <string>

namespace qr {

// The window property marking the launcher window of the run that holds `lockName`.
std::wstring RunWindowMark(const std::string& lockName);

// Looks for a visible top-level window with `mark`, for up to `waitMs` (the other launcher may still
// be fetching its patch list before its window opens); restores it when minimised and brings it to
// the front. False when none showed up.
bool BringMarkedWindowToFront(const std::wstring& mark, DWORD waitMs);

}  // namespace qr
