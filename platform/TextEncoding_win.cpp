#include "platform/TextEncoding.h"

#include <windows.h>

namespace qr {
namespace {
constexpr UINT kCodePage = 949;
}

Cp949Conversion Utf8ToCp949(std::string_view utf8, std::string& cp949) {
    cp949.clear();
    if (utf8.empty()) return Cp949Conversion::Converted;
    const int inLength = static_cast<int>(utf8.size());
    // MB_ERR_INVALID_CHARS: ill-formed bytes fail instead of becoming U+FFFD.
    const int wideCount = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
    if (wideCount <= 0) return Cp949Conversion::NotUtf8;
    std::wstring wide(static_cast<size_t>(wideCount), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, wide.data(), wideCount) != wideCount)
        return Cp949Conversion::NotUtf8;

    // WC_NO_BEST_FIT_CHARS keeps look-alikes out ("∕" must not become "/"); the used-default flag
    // tells when a character had no form at all.
    BOOL usedDefault = FALSE;
    const int count = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideCount, nullptr, 0,
                                          nullptr, &usedDefault);
    if (count <= 0 || usedDefault) return Cp949Conversion::NoCp949Form;
    std::string out(static_cast<size_t>(count), '\0');
    usedDefault = FALSE;
    if (WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), wideCount, out.data(), count, nullptr,
                            &usedDefault) != count ||
        usedDefault)
        return Cp949Conversion::NoCp949Form;
    cp949 = std::move(out);
    return Cp949Conversion::Converted;
}

}  // namespace qr
