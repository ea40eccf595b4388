#include "app/WindowTexts.h"

#include <cstdio>

#include "common/DoubleMath.h"

namespace qr {
namespace {

constexpr uint32_t kErrorFileNotFound = 2;

}  // namespace

std::string FormatDownloadCounter(int index, int count) {
    char text[32];
    std::snprintf(text, sizeof text, "%d / %d", index, count);
    return text;
}

std::string FormatByteCounter(long long bytes) {
    // The same text as "%d Byte" wherever an int holds the count, and the whole count past it.
    return std::to_string(bytes) + " Byte";
}

QR_DOUBLE_MATH int UnpackPercent(int done, int total) {
    if (total == 0) return 0;
    const double percent = static_cast<double>(done) / static_cast<double>(total) * 100.0;
    // The counters come from an archive's header: keep a hostile ratio inside int.
    if (percent >= 2147483647.0) return 2147483647;
    if (percent <= -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(percent);
}

std::string FormatUnpackingStatus(const std::string& name, int done, int total) {
    // The name has no length limit, so the text is measured before it is formatted.
    const char* format = "압축푸는 중 : %s (%d%% 완료)";
    const int percent = UnpackPercent(done, total);
    const int length = std::snprintf(nullptr, 0, format, name.c_str(), percent);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, name.c_str(), percent);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string GameStartErrorText(uint32_t errorCode) {
    if (errorCode == kErrorFileNotFound) return "게임시작에러 : 실행파일이 존재하지 않습니다. 잠시후에 시도하세요.";
    char text[128];
    std::snprintf(text, sizeof text, "게임시작에러 : %ld - DirectX 8.1버전 이상이 설치되어야 합니다.",
                  static_cast<long>(static_cast<int32_t>(errorCode)));
    return text;
}

}  // namespace qr
