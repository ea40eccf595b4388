#include "app/WindowTexts.h"

#include <gtest/gtest.h>

#include <climits>

namespace qr {
namespace {

TEST(WindowTexts, CountersShowZerosBeforeAnyDownload) {
    EXPECT_EQ(FormatDownloadCounter(0, 0), "0 / 0");
    EXPECT_EQ(FormatByteCounter(0), "0 Byte");
    EXPECT_EQ(FormatDownloadCounter(3, 12), "3 / 12");
    EXPECT_EQ(FormatByteCounter(-1), "-1 Byte");
    EXPECT_EQ(FormatByteCounter(INT_MAX), "2147483647 Byte");
}

TEST(WindowTexts, ByteCounterShowsDownloadsPast2GiBWhole) {
    EXPECT_EQ(FormatByteCounter(12288), "12288 Byte");
    EXPECT_EQ(FormatByteCounter(2147483648LL), "2147483648 Byte");
    EXPECT_EQ(FormatByteCounter(2254857830LL), "2254857830 Byte");
    EXPECT_EQ(FormatByteCounter(5LL << 30), "5368709120 Byte");
}

TEST(WindowTexts, UnpackPercentIsCutTowardZero) {
    EXPECT_EQ(UnpackPercent(1, 3), 33);
    EXPECT_EQ(UnpackPercent(2, 3), 66);
    EXPECT_EQ(UnpackPercent(199, 200), 99);
    // The last member being written reads 100.
    EXPECT_EQ(UnpackPercent(7, 7), 100);
    EXPECT_EQ(UnpackPercent(1, 1), 100);
    // 29 / 100 * 100 is 28.999... in double precision, and the cut keeps the 28.
    EXPECT_EQ(UnpackPercent(29, 100), static_cast<int>(29.0 / 100.0 * 100.0));
}

TEST(WindowTexts, UnpackPercentNeverDividesByZeroOrOverflows) {
    EXPECT_EQ(UnpackPercent(5, 0), 0);
    EXPECT_EQ(UnpackPercent(INT_MAX, 1), INT_MAX);
    EXPECT_EQ(UnpackPercent(INT_MIN, 1), INT_MIN);
    EXPECT_EQ(UnpackPercent(-1, 4), -25);
}

TEST(WindowTexts, UnpackingStatusNamesTheArchiveAndItsPercent) {
    EXPECT_EQ(FormatUnpackingStatus("data/maps.zip", 1, 4), "압축푸는 중 : data/maps.zip (25% 완료)");
    // A name is text, never a format.
    EXPECT_EQ(FormatUnpackingStatus("%s%n%d.zip", 1, 2), "압축푸는 중 : %s%n%d.zip (50% 완료)");
    const std::string longName(5000, 'x');
    const std::string text = FormatUnpackingStatus(longName, 3, 3);
    EXPECT_EQ(text, "압축푸는 중 : " + longName + " (100% 완료)");
}

TEST(WindowTexts, GameStartErrors) {
    EXPECT_EQ(GameStartErrorText(2), "게임시작에러 : 실행파일이 존재하지 않습니다. 잠시후에 시도하세요.");
    EXPECT_EQ(GameStartErrorText(5), "게임시작에러 : 5 - DirectX 8.1버전 이상이 설치되어야 합니다.");
    EXPECT_EQ(GameStartErrorText(3), "게임시작에러 : 3 - DirectX 8.1버전 이상이 설치되어야 합니다.");
    // Codes are shown as signed 32-bit numbers.
    EXPECT_EQ(GameStartErrorText(0xC0000135u), "게임시작에러 : -1073741515 - DirectX 8.1버전 이상이 설치되어야 합니다.");
    // A program that is not the released one.
    EXPECT_EQ(GameStartErrorText(kErrorInvalidImageHash), "게임시작에러 : 577 - DirectX 8.1버전 이상이 설치되어야 합니다.");
}

}  // namespace
}  // namespace qr
