#include "skin/SkinProgress.h"

#include <commctrl.h>

#include "skin/FillMath.h"
#include "skin/SkinBitmap.h"

namespace qr {

SkinProgress::SkinProgress() : slot_(std::make_shared<skin::WindowProgressSlot>()) {
    StoreRange(0, 100);
}

SkinProgress::~SkinProgress() {
    // Let go of the window while this object is whole; the palette goes before the bitmap.
    Detach();
    fillPalette_.reset();
    fillBitmap_.reset();
}

void SkinProgress::OnAttached() { slot_->target().Bind(hwnd()); }

void SkinProgress::OnDetaching() { slot_->target().Unbind(); }

int SkinProgress::LoadFillBitmap(LPCSTR name, int repaint) {
    // Replacing the fill releases the old bitmap and palette: nothing else holds them, and the
    // paint selects them only for its own duration.
    fillPalette_.reset();
    fillBitmap_.reset();
    int result = 1;
    if (name) {
        result = skin::LoadSkinBitmap(name, fillBitmap_, fillPalette_);
        if (result == 1) {
            BITMAP header{};
            GetObjectA(fillBitmap_.get(), sizeof header, &header);
            fillWidth_ = header.bmWidth;
            fillHeight_ = header.bmHeight;
        }
    }
    if (repaint == 1 && hwnd()) InvalidateRect(hwnd(), nullptr, TRUE);
    return result;
}

void SkinProgress::StoreRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
    span_ = skin::ProgressSpan(lower, upper);
}

int SkinProgress::FillRightNow() const {
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int percent = skin::ProgressPercent(pos_, lower_, span_);
    const int fillWidth = skin::ProgressFillWidth(client.right - client.left, percent);
    return skin::ProgressFillRight(client.right, fillWidth);
}

// The paint draws only the fill, so a fill that got shorter would leave its old end standing. The
// check comes before the control's message, whose handling may already repaint the bar.
bool SkinProgress::FillShrinks() const {
    return hwnd() && fillBitmap_ && paintedFillRight_ > 2 && FillRightNow() < paintedFillRight_;
}

// The part under the control goes back to the parent, which draws its background there; the
// control then paints its fill again on top.
void SkinProgress::UncoverParent() {
    HWND parent = GetParent(hwnd());
    if (!parent) return;
    RECT area{};
    GetWindowRect(hwnd(), &area);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
    RedrawWindow(parent, &area, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    paintedFillRight_ = 0;
}

void SkinProgress::SetRange(int lower, int upper) {
    if (skin::OnOtherThread(hwnd())) {
        slot_->target().Send(skin::kSlotSetRange, skin::IntToWParam(lower), skin::IntToLParam(upper));
        return;
    }
    StoreRange(lower, upper);
    if (!hwnd()) return;
    const bool shrinks = FillShrinks();
    SendMessageA(hwnd(), PBM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(lower), static_cast<WORD>(upper)));
    if (shrinks) UncoverParent();
}

void SkinProgress::SetRange32(int lower, int upper) {
    if (skin::OnOtherThread(hwnd())) {
        slot_->SetRange32(lower, upper);
        return;
    }
    StoreRange(lower, upper);
    if (!hwnd()) return;
    const bool shrinks = FillShrinks();
    SendMessageA(hwnd(), PBM_SETRANGE32, skin::IntToWParam(lower), skin::IntToLParam(upper));
    if (shrinks) UncoverParent();
}

int SkinProgress::SetPos(int position) {
    if (skin::OnOtherThread(hwnd()))
        return static_cast<int>(slot_->target().Send(skin::kSlotSetPos, skin::IntToWParam(position), 0));
    pos_ = skin::ClampProgressPosition(position, lower_, upper_);
    if (!hwnd()) return 0;
    const bool shrinks = FillShrinks();
    const int previous = static_cast<int>(SendMessageA(hwnd(), PBM_SETPOS, skin::IntToWParam(pos_), 0));
    if (shrinks) UncoverParent();
    return previous;
}

LRESULT SkinProgress::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        if (!fillBitmap_) break;  // no skin: the control paints itself
        Paint();
        return 0;
    case skin::kSlotSetRange32:
        SetRange32(skin::WParamToInt(wParam), skin::LParamToInt(lParam));
        return 0;
    case skin::kSlotSetRange:
        SetRange(skin::WParamToInt(wParam), skin::LParamToInt(lParam));
        return 0;
    case skin::kSlotSetPos:
        return SetPos(skin::WParamToInt(wParam));
    default:
        break;
    }
    return CallPrevious(message, wParam, lParam);
}

// The fill is drawn through the whole-window context, frame included, so the copy to (2, 2) sits
// one pixel inside a one-pixel frame; the unfilled part and the frame are the control's own.
void SkinProgress::Paint() {
    skin::PaintScope paint(hwnd());
    skin::WindowDc window(hwnd(), skin::WindowDc::kWholeWindow);
    RECT client{};
    GetClientRect(hwnd(), &client);
    const int fillRight = FillRightNow();
    skin::PaintTiledFill(window.get(), client, fillRight, fillBitmap_.get(), fillWidth_, fillHeight_,
                         fillPalette_.get());
    paintedFillRight_ = fillRight;
}

}  // namespace qr
