// The Win32 structures our code fills in, sizes or lays out by hand, checked at compile time in
// both Windows builds: a packing option, a header of another mingw version or a structure taken for
// its 32-bit twin would otherwise only show as a call that silently fails (GetObject returning a
// short count, a class that does not register, a palette read from the wrong place).
// The 32-bit and 64-bit layouts differ wherever a structure holds a pointer or a handle.
#include <windows.h>
#include <commctrl.h>

#include <cstddef>

namespace qr::ui {
namespace {

constexpr bool k64 = sizeof(void*) == 8;
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "a Windows build is 32-bit or 64-bit");

// Bitmaps and palettes (skin bitmaps, the window's background).
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER");
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD");
static_assert(sizeof(PALETTEENTRY) == 4, "PALETTEENTRY");
// A logical palette is built in a byte buffer: header, then the entries one after another.
static_assert(sizeof(LOGPALETTE) == 8 && offsetof(LOGPALETTE, palPalEntry) == 4, "LOGPALETTE");
static_assert(sizeof(BITMAP) == (k64 ? 32 : 24), "BITMAP");
static_assert(sizeof(DIBSECTION) == (k64 ? 104 : 84), "DIBSECTION");
static_assert(offsetof(DIBSECTION, dsBmih) == sizeof(BITMAP), "DIBSECTION header place");

// Fonts, window classes, common controls and the game's process start.
static_assert(sizeof(LOGFONTW) == 92, "LOGFONTW");
static_assert(sizeof(WNDCLASSEXW) == (k64 ? 80 : 48), "WNDCLASSEXW");
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8, "INITCOMMONCONTROLSEX");
static_assert(sizeof(STARTUPINFOW) == (k64 ? 104 : 68), "STARTUPINFOW");
static_assert(sizeof(PROCESS_INFORMATION) == (k64 ? 24 : 16), "PROCESS_INFORMATION");
static_assert(sizeof(RECT) == 16, "RECT");

}  // namespace
}  // namespace qr::ui
