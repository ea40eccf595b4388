#include "skin/FillMath.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "common/DoubleMath.h"

namespace qr::skin {
namespace {

// Truncation toward zero that saturates instead of being undefined for values outside int: a
// position far beyond a tiny range must give a huge percentage, not a wrapped or random one.
int TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

}  // namespace

int ProgressSpan(int lower, int upper) {
    // In 64 bits: the difference of two ints does not always fit in one.
    std::int64_t span = static_cast<std::int64_t>(upper) - lower;
    if (span < 0) span = -span;
    if (span == 0) return 1;
    if (span > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    return static_cast<int>(span);
}

int ClampProgressPosition(int position, int lower, int upper) {
    if (position < lower) position = lower;
    if (position > upper) position = upper;
    return position;
}

QR_DOUBLE_MATH int ProgressPercent(int position, int lower, int span) {
    if (span == 0) span = 1;  // a span is never 0; keep the division defined anyway
    double offset = static_cast<double>(position) - static_cast<double>(lower);
    return TruncateToInt(offset * (100.0 / span));
}

QR_DOUBLE_MATH int ProgressFillWidth(int clientWidth, int percent) {
    double onePercent = static_cast<double>(kOnePercent);
    return TruncateToInt(static_cast<double>(clientWidth) * onePercent * percent);
}

int ProgressFillRight(int clientRight, int fillWidth) {
    return fillWidth > clientRight ? clientRight - 1 : fillWidth;
}

PixelRect FillRectangle(int clientHeight, int fillRight) {
    // Every negative fill (a position below the range) is the same empty fill; pinning it at 0
    // keeps the shrink from overflowing for a fill right near INT_MIN.
    if (fillRight < 0) fillRight = 0;
    PixelRect rect;
    rect.left = 1;
    rect.top = 1;
    rect.right = fillRight - 1;
    rect.bottom = clientHeight - 1;
    return rect;
}

int TileCount(int length, int tileSize) {
    if (tileSize <= 0) return 0;
    int count = length / tileSize;
    if (length % tileSize != 0) ++count;
    return count;
}

long long DibColourCount(unsigned long colourUsed, int bitCount) {
    if (colourUsed != 0) return static_cast<long long>(colourUsed);
    // No colour table to read (compressed formats have depth 0): treat as true colour.
    if (bitCount <= 0 || bitCount >= 62) return std::numeric_limits<long long>::max();
    return 1LL << bitCount;
}

}  // namespace qr::skin
