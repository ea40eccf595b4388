// Loading a skin bitmap with a palette that shows it right on palette displays too, and the
// flicker-free tiled painting of a control's filled part.
#pragma once

#include <windows.h>

#include "skin/GdiHandles.h"

namespace qr::skin {

// The module whose resources the skin loads: the launcher's own executable.
HINSTANCE ResourceModule();

// Loads a bitmap resource (id in integer-resource form, or a name) as a DIB section into `bitmap`
// and builds `palette` for it. Returns 1, or 0 when the resource could not be loaded; both are
// left empty then.
int LoadSkinBitmap(LPCSTR name, BitmapHandle& bitmap, PaletteHandle& palette);

// Tiles `bitmap` from the origin of an off-screen buffer of the client's size and copies the fill
// rectangle (client with right edge fillRight, shrunk by 1) in one block to (2, 2) of `target`,
// whose origin is the control's whole window area.
void PaintTiledFill(HDC target, const RECT& clientRect, int fillRight, HBITMAP bitmap,
                    int tileWidth, int tileHeight, HPALETTE palette);

}  // namespace qr::skin
