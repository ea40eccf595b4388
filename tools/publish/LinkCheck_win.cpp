#include "tools/publish/ExclusiveName.h"

#include <windows.h>

#include "platform/Cp949_win.h"

namespace qr::publish {

bool ClaimNewFile(const std::string& path) {
    // CREATE_NEW fails on any existing name, a reparse point included, so nothing is followed.
    HANDLE h = CreateFileW(WidenCp949(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WidenCp949(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace qr::publish
