#include "app/WebPages_win.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/Cp949_win.h"

namespace qr {

// The results are not looked at: a page that does not open is not the launcher's failure.
void OpenPageDirectly(const std::string& url) {
    ShellExecuteW(nullptr, L"open", WidenCp949(url).c_str(), nullptr, nullptr, SW_SHOW);
}

void OpenPageThroughExplorer(const std::string& url) {
    ShellExecuteW(nullptr, L"open", L"explorer.exe", WidenCp949(url).c_str(), nullptr, SW_SHOW);
}

}  // namespace qr
