// The launcher window's own painting: background picture, counters, status line, copyright.
#include "app/LauncherDialog_win.h"
#include "app/LauncherIds_win.h"
#include "app/WindowTexts.h"
#include "platform/Cp949_win.h"
#include "ui/Gdi.h"

namespace qr {
namespace {

constexpr COLORREF kCounterColour = RGB(0, 255, 255);
constexpr COLORREF kStatusColour = RGB(255, 255, 0);
constexpr COLORREF kCopyrightColour = RGB(39, 135, 206);

// A font of the given size in tenths of a point with the face "굴림". The Hangul character set
// makes the system pick a Korean font when that face is missing, so the texts read right on a
// Windows of any language.
HFONT CreateGulimFont(HDC dc, int tenthsOfPoint) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(GetDeviceCaps(dc, LOGPIXELSY), tenthsOfPoint, 720);
    font.lfCharSet = HANGUL_CHARSET;
    const std::wstring face = WidenCp949("굴림");
    lstrcpynW(font.lfFaceName, face.c_str(), LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

// The texts are code page 949; the wide call draws them right whatever the system's code page.
void DrawCp949(HDC dc, int x, int y, const std::string& text) {
    const std::wstring wide = WidenCp949(text);
    TextOutW(dc, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

}  // namespace

void LauncherDialog::PaintMinimised() {
    ui::PaintScope paint(hwnd());
    SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.dc()), 0);
    RECT client;
    GetClientRect(hwnd(), &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(paint.dc(), x, y, icon_);
}

void LauncherDialog::OnPaint() {
    if (IsIconic(hwnd())) {
        PaintMinimised();
        return;
    }
    ui::PaintScope paint(hwnd());
    HDC dc = paint.dc();
    {
        ui::GdiObject<HBITMAP> background(LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(ids::kBackgroundBitmap)));
        if (background) {
            BITMAP info{};
            GetObjectW(background.get(), sizeof info, &info);
            ui::MemoryDc memory(dc);
            ui::Selection selected(memory.get(), background.get());
            BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory.get(), 0, 0, SRCCOPY);
        }
    }

    ui::GdiObject<HFONT> textFont(CreateGulimFont(dc, 90));
    ui::GdiObject<HFONT> copyrightFont(CreateGulimFont(dc, 80));
    ui::Selection selectedFont(dc, textFont.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kCounterColour);
    DrawCp949(dc, 473, 65, FormatDownloadCounter(state_->archiveIndex, state_->archiveCount));
    DrawCp949(dc, 629, 65, FormatByteCounter(state_->bytesReceived));

    // The divisor is read once: the worker may reset it to 0 at any moment.
    const int extractTotal = state_->extractTotal;
    if (extractTotal != 0)
        state_->statusText.Set(FormatUnpackingStatus(state_->extractName.Get(), state_->extractDone, extractTotal));
    SetTextColor(dc, kStatusColour);
    DrawCp949(dc, 415, 100, state_->statusText.Get());

    SelectObject(dc, copyrightFont.get());
    SetTextColor(dc, kCopyrightColour);
    DrawCp949(dc, 416, 300, kCopyrightLine1);
    DrawCp949(dc, 416, 313, kCopyrightLine2);
    SelectObject(dc, textFont.get());
}

}  // namespace qr
