#include "tools/publish/LinkCheck.h"

#include <windows.h>

#include "platform/Cp949_win.h"

namespace qr::publish {

bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(WidenCp949(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace qr::publish
