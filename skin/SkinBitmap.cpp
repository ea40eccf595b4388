#include "skin/SkinBitmap.h"

#include <vector>

#include "skin/FillMath.h"

namespace qr::skin {

HINSTANCE ResourceModule() { return GetModuleHandleW(nullptr); }

namespace {

// A logical palette of exactly the bitmap's colour-table entries. The table is read with the
// bitmap selected into a memory context, as GetDIBColorTable requires.
HPALETTE PaletteFromColourTable(HDC screen, HBITMAP bitmap, int colours) {
    std::vector<RGBQUAD> table(static_cast<size_t>(colours));  // zeroed: unread entries are black
    {
        MemoryDc memory(screen);
        Selection selected(memory.get(), bitmap);
        GetDIBColorTable(memory.get(), 0, static_cast<UINT>(colours), table.data());
    }
    std::vector<BYTE> storage(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * colours);
    auto* logical = reinterpret_cast<LOGPALETTE*>(storage.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(colours);
    for (int i = 0; i < colours; ++i) {
        logical->palPalEntry[i].peRed = table[i].rgbRed;
        logical->palPalEntry[i].peGreen = table[i].rgbGreen;
        logical->palPalEntry[i].peBlue = table[i].rgbBlue;
        logical->palPalEntry[i].peFlags = 0;
    }
    return CreatePalette(logical);
}

}  // namespace

int LoadSkinBitmap(LPCSTR name, BitmapHandle& bitmap, PaletteHandle& palette) {
    HANDLE loaded = LoadImageA(ResourceModule(), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    if (!loaded) return 0;
    bitmap.reset(static_cast<HBITMAP>(loaded));

    DIBSECTION section{};
    long long colours = kMaxPaletteColours + 1;
    if (GetObjectA(bitmap.get(), sizeof section, &section) == sizeof section)
        colours = DibColourCount(section.dsBmih.biClrUsed, section.dsBmih.biBitCount);

    WindowDc screen(nullptr);
    if (colours <= kMaxPaletteColours)
        palette.reset(PaletteFromColourTable(screen.get(), bitmap.get(), static_cast<int>(colours)));
    else
        palette.reset(CreateHalftonePalette(screen.get()));
    return 1;
}

void PaintTiledFill(HDC target, const RECT& clientRect, int fillRight, HBITMAP bitmap,
                    int tileWidth, int tileHeight, HPALETTE palette) {
    const int clientWidth = clientRect.right - clientRect.left;
    const int clientHeight = clientRect.bottom - clientRect.top;

    MemoryDc source(target);
    Selection sourceSelection(source.get(), bitmap);
    // The buffer takes the skin bitmap's colour format from the source context, not the
    // monochrome default of a fresh memory context.
    MemoryDc buffer(target);
    BitmapHandle bufferBitmap(CreateCompatibleBitmap(source.get(), clientWidth, clientHeight));
    Selection bufferSelection(buffer.get(), bufferBitmap.get());

    const PixelRect fill = FillRectangle(clientHeight, fillRight);
    const int columns = TileCount(fill.width(), tileWidth);
    const int rows = TileCount(fill.height(), tileHeight);
    for (int i = 0; i < columns; ++i)
        for (int j = 0; j < rows; ++j)
            BitBlt(buffer.get(), i * tileWidth, j * tileHeight, tileWidth, tileHeight, source.get(),
                   0, 0, SRCCOPY);

    if (palette && (GetDeviceCaps(target, RASTERCAPS) & RC_PALETTE)) {
        SelectPalette(target, palette, FALSE);
        RealizePalette(target);
    }
    if (!fill.empty()) BitBlt(target, 2, 2, fill.width(), fill.height(), buffer.get(), 0, 0, SRCCOPY);
}

}  // namespace qr::skin
