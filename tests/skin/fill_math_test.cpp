// The bar's fill arithmetic: the worked cases a player sees (half and full bars on the launcher's
// 294-pixel client), the single-precision constant behind the one-pixel shortfall, and the ranges
// the worker can produce by changing a range under a stored position.
#include <cstdint>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "skin/FillMath.h"

using namespace qr::skin;

namespace {
constexpr int kBarClientWidth = 294;  // the 296 x 19 bar minus its one-pixel frame
constexpr int kBarClientHeight = 17;
constexpr int kTile = 8, kTileHeight = 17;

// Everything one paint of the bar works out, in the order the paint works it out.
struct FillLayout {
    int percent = 0;
    int fillWidth = 0;
    int fillRight = 0;
    PixelRect fill;   // in client coordinates
    int columns = 0;  // tiles across and down, drawn from the buffer origin
    int rows = 0;
    bool copies() const { return !fill.empty(); }  // anything reaches the screen
};

FillLayout LayoutFill(int position, int lower, int span, int clientWidth, int clientHeight, int tileWidth,
                      int tileHeight) {
    FillLayout layout;
    layout.percent = ProgressPercent(position, lower, span);
    layout.fillWidth = ProgressFillWidth(clientWidth, layout.percent);
    layout.fillRight = ProgressFillRight(clientWidth, layout.fillWidth);
    layout.fill = FillRectangle(clientHeight, layout.fillRight);
    layout.columns = TileCount(layout.fill.width(), tileWidth);
    layout.rows = TileCount(layout.fill.height(), tileHeight);
    return layout;
}

FillLayout BarAt(int position, int lower, int upper) {
    return LayoutFill(position, lower, ProgressSpan(lower, upper), kBarClientWidth,
                      kBarClientHeight, kTile, kTileHeight);
}
}  // namespace

TEST(skin_fill, OnePercentIsTheSinglePrecisionConstant) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &kOnePercent, sizeof bits);
    EXPECT_EQ(bits, 0x3C23D70Au);
}

TEST(skin_fill, HalfAndFullBarOnTheLauncherClient) {
    FillLayout half = BarAt(50, 0, 100);
    EXPECT_EQ(half.percent, 50);
    EXPECT_EQ(half.fillWidth, 146);  // 294 x 0.0099999998 x 50 = 146.99999...
    EXPECT_EQ(half.fillRight, 146);
    EXPECT_EQ(half.fill.left, 1);
    EXPECT_EQ(half.fill.top, 1);
    EXPECT_EQ(half.fill.right, 145);
    EXPECT_EQ(half.fill.bottom, 16);
    EXPECT_EQ(half.fill.width(), 144);
    EXPECT_EQ(half.fill.height(), 15);
    EXPECT_TRUE(half.copies());
    EXPECT_EQ(half.columns, 18);
    EXPECT_EQ(half.rows, 1);

    FillLayout full = BarAt(1, 0, 1);  // the worker's finish: SetPos(1) on a 0..1 range
    EXPECT_EQ(full.percent, 100);
    EXPECT_EQ(full.fillWidth, 293);
    EXPECT_EQ(full.fill.width(), 291);
    EXPECT_EQ(full.fill.height(), 15);
    EXPECT_EQ(full.columns, 37);  // 291 / 8 = 36, remainder 3

    FillLayout empty = BarAt(0, 0, 1);
    EXPECT_EQ(empty.percent, 0);
    EXPECT_FALSE(empty.copies());
}

TEST(skin_fill, WholeMultiplesOfOneHundredComeOutOnePixelShort) {
    for (int width = 1; width <= 1200; ++width) {
        for (int percent = 0; percent <= 100; ++percent) {
            int product = width * percent;
            int expected = product / 100;
            if (product > 0 && product % 100 == 0) expected -= 1;
            ASSERT_EQ(ProgressFillWidth(width, percent), expected)
                << "width " << width << " percent " << percent;
        }
    }
    EXPECT_EQ(ProgressFillWidth(200, 50), 99);
    EXPECT_EQ(ProgressFillWidth(300, 100), 299);
}

TEST(skin_fill, PercentMovesInWholeStepsAndTruncatesTowardZero) {
    EXPECT_EQ(ProgressPercent(505, 0, 1000), 50);
    EXPECT_EQ(ProgressPercent(509, 0, 1000), 50);
    FillLayout a = BarAt(505, 0, 1000), b = BarAt(509, 0, 1000);
    EXPECT_EQ(a.fillRight, b.fillRight);
    EXPECT_EQ(ProgressPercent(2, 0, 3), 66);
    EXPECT_EQ(ProgressPercent(-1, 0, 3), -33);  // toward zero, not down to -34
    EXPECT_EQ(ProgressPercent(7, 5, ProgressSpan(5, 9)), 50);  // measured from the lower bound
}

TEST(skin_fill, PositionBelowTheRangeDrawsNothing) {
    // Possible only after a range change: the stored position is not clamped to the new range.
    FillLayout below = BarAt(3, 10, 20);
    EXPECT_EQ(below.percent, -70);
    EXPECT_LT(below.fillWidth, 0);
    EXPECT_FALSE(below.copies());
}

TEST(skin_fill, OverOneHundredPercentIsCutToAFullBar) {
    FillLayout over = BarAt(50, 0, 10);  // range shrunk under position 50: 500 %
    EXPECT_EQ(over.percent, 500);
    EXPECT_GT(over.fillWidth, kBarClientWidth);
    EXPECT_EQ(over.fillRight, kBarClientWidth - 1);
    FillLayout full = BarAt(10, 0, 10);
    EXPECT_EQ(over.fill.width(), full.fill.width());
}

TEST(skin_fill, NarrowFillsReachNothingOnTheScreen) {
    for (int right = -5; right <= 2; ++right) {
        PixelRect rect = FillRectangle(kBarClientHeight, right);
        EXPECT_TRUE(rect.empty()) << right;
    }
    PixelRect three = FillRectangle(kBarClientHeight, 3);
    EXPECT_FALSE(three.empty());
    EXPECT_EQ(three.width(), 1);
    // 1 % of 294 pixels is 2 pixels: nothing is copied yet.
    EXPECT_FALSE(BarAt(1, 0, 100).copies());
    EXPECT_TRUE(BarAt(2, 0, 100).copies());
}

TEST(skin_fill, SpanAndClampRules) {
    EXPECT_EQ(ProgressSpan(0, 100), 100);
    EXPECT_EQ(ProgressSpan(100, 0), 100);
    EXPECT_EQ(ProgressSpan(7, 7), 1);
    EXPECT_EQ(ClampProgressPosition(-4, 0, 10), 0);
    EXPECT_EQ(ClampProgressPosition(14, 0, 10), 10);
    EXPECT_EQ(ClampProgressPosition(6, 0, 10), 6);
    EXPECT_EQ(ClampProgressPosition(5, 10, 0), 0);  // upper below lower: the upper bound wins
    EXPECT_EQ(ClampProgressPosition(15, 10, 0), 0);
}

TEST(skin_fill, ExtremeRangesStayDefined) {
    constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
    EXPECT_EQ(ProgressSpan(kMin, kMax), kMax);  // 2^32 - 1 does not fit: saturated
    EXPECT_EQ(ProgressSpan(kMax, kMin), kMax);
    EXPECT_EQ(ProgressPercent(kMax, kMin, 1), kMax);
    EXPECT_EQ(ProgressPercent(kMin, kMax, 1), kMin);
    EXPECT_EQ(ProgressPercent(kMax, kMin, kMax), 200);
    FillLayout huge = BarAt(kMax, 0, 1);
    EXPECT_EQ(huge.fillRight, kBarClientWidth - 1);
    FillLayout negative = LayoutFill(kMin, kMax, 1, kBarClientWidth, kBarClientHeight, kTile,
                                     kTileHeight);
    EXPECT_FALSE(negative.copies());
    EXPECT_EQ(ProgressPercent(5, 0, 0), 500);  // a zero span is treated as 1
}

TEST(skin_fill, TilesCoverTheFillFromTheBufferOrigin) {
    EXPECT_EQ(TileCount(291, 8), 37);
    EXPECT_EQ(TileCount(288, 8), 36);
    EXPECT_EQ(TileCount(15, 17), 1);
    EXPECT_EQ(TileCount(34, 17), 2);
    EXPECT_EQ(TileCount(35, 17), 3);
    EXPECT_EQ(TileCount(0, 8), 0);
    EXPECT_EQ(TileCount(100, 0), 0);  // a tile without pixels draws nothing rather than dividing by 0
    FillLayout tall = LayoutFill(100, 0, 100, 40, 40, 8, 17);  // 38 pixels high: three tile rows
    EXPECT_EQ(tall.fill.height(), 38);
    EXPECT_EQ(tall.rows, 3);
}

TEST(skin_fill, ColourCountDecidesThePalette) {
    EXPECT_EQ(DibColourCount(0, 24), 16777216);  // the fill tiles: a halftone palette
    EXPECT_EQ(DibColourCount(0, 16), 65536);
    EXPECT_EQ(DibColourCount(0, 32), 4294967296LL);
    EXPECT_EQ(DibColourCount(0, 8), 256);
    EXPECT_EQ(DibColourCount(0, 4), 16);
    EXPECT_EQ(DibColourCount(20, 8), 20);  // colour-used count wins when set
    EXPECT_LE(DibColourCount(0, 8), kMaxPaletteColours);
    EXPECT_GT(DibColourCount(0, 16), kMaxPaletteColours);
}

// The percentage is double arithmetic on every build: where 80-bit intermediates would round the
// other way a full bar read 99 and these cases lost a percent.
TEST(skin_fill, PercentIsDoublePrecisionOnEveryBuild) {
    EXPECT_EQ(ProgressPercent(149, 0, 149), 100);
    EXPECT_EQ(ProgressPercent(21, 0, 35), 60);
    EXPECT_EQ(ProgressPercent(21, 0, 70), 30);
    EXPECT_EQ(BarAt(149, 0, 149).fillWidth, 293);
}
