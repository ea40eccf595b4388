// The skin draws with the same GDI owners as the window.
#pragma once

#include "ui/Gdi.h"

namespace qr::skin {
using ui::BitmapHandle;
using ui::GdiHandle;
using ui::MemoryDc;
using ui::PaintScope;
using ui::PaletteHandle;
using ui::Selection;
using ui::WindowDc;
}  // namespace qr::skin
