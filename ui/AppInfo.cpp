#include "ui/AppInfo.h"

#include <vector>

namespace qr::ui {

std::wstring ApplicationName() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return L"QuorvelLauncher";
        if (length < buffer.size()) break;
        buffer.resize(buffer.size() * 2);  // long paths are cut at the buffer size: try again
    }
    std::wstring path(buffer.data());
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.erase(dot);
    return name;
}

std::wstring LoadResourceString(UINT id) {
    // With a zero buffer length the call hands out a pointer into the resource itself, which is not
    // terminated: the returned length says how much of it is the string.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0 || !text) return {};
    return std::wstring(text, static_cast<size_t>(length));
}

void ShowAppMessage(HWND owner, const std::wstring& text) {
    MessageBoxW(owner, text.c_str(), ApplicationName().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace qr::ui
