// What every window of the launcher shows the same way: the application's name as message box
// title, strings from the string table, and message boxes in that style.
#pragma once

#include <windows.h>

#include <string>

namespace qr::ui {

// The program file's name without its extension ("QuorvelLauncher").
std::wstring ApplicationName();

// String-table entry `id` of the executable; empty when it has none.
std::wstring LoadResourceString(UINT id);

// A modal box titled with the application's name: OK and the exclamation icon.
void ShowAppMessage(HWND owner, const std::wstring& text);

}  // namespace qr::ui
