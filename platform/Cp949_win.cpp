#include "platform/Cp949_win.h"

#include <windows.h>

namespace qr {
namespace {
constexpr UINT kCodePage = 949;
}

std::wstring WidenCp949(std::string_view text) {
    if (text.empty()) return {};
    int count = MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), out.data(), count);
    return out;
}

std::string NarrowCp949(std::wstring_view text) {
    if (text.empty()) return {};
    int count = WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
    std::string out(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(kCodePage, 0, text.data(), static_cast<int>(text.size()), out.data(), count, nullptr,
                        nullptr);
    return out;
}
}  // namespace qr
