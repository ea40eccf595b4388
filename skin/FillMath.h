// The arithmetic of the skinned progress bar, kept free of any window system so the native build
// can test it: range span, position clamping, percentage, fill width and the tiling of the fill.
#pragma once

namespace qr::skin {

// The single-precision 0.01 the bar multiplies by (bit pattern 0x3C23D70A, slightly below 0.01).
inline constexpr float kOnePercent = 0.01f;

// |upper - lower|, 1 when the bounds are equal; never 0.
int ProgressSpan(int lower, int upper);

// Clamps into [lower, upper]; when upper < lower the upper bound wins.
int ClampProgressPosition(int position, int lower, int upper);

// (position - lower) * (100.0 / span), truncated toward zero.
int ProgressPercent(int position, int lower, int span);

// clientWidth * kOnePercent * percent in double precision, truncated toward zero.
int ProgressFillWidth(int clientWidth, int percent);

// The fill's right edge: a fill wider than the client ends one pixel inside its right edge.
int ProgressFillRight(int clientRight, int fillWidth);

// Plain rectangle with the same meaning as the Windows one: right and bottom exclusive.
struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
};

// The client rectangle with its right edge at fillRight, shrunk by one pixel on every side.
PixelRect FillRectangle(int clientHeight, int fillRight);

// Whole tiles needed to cover `length` pixels: truncating division, plus one for any remainder.
// A tile size of 0 or less needs no tiles.
int TileCount(int length, int tileSize);

// Colours of a loaded device-independent bitmap: its colour-used count, or 2 to the power of its
// bit depth when that is 0. Pictures of 256 colours or fewer get a palette of exactly these.
long long DibColourCount(unsigned long colourUsed, int bitCount);
inline constexpr long long kMaxPaletteColours = 256;

}  // namespace qr::skin
