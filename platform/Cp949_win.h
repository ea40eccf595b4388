// Conversions between the launcher's code page 949 texts and the wide strings of the Win32 "W"
// calls, so that names and texts come out right on a Windows of any locale.
#pragma once

#include <string>
#include <string_view>

namespace qr {
std::wstring WidenCp949(std::string_view text);
std::string NarrowCp949(std::wstring_view text);
}  // namespace qr
