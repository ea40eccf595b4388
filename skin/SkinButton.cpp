#include "skin/SkinButton.h"

#include <utility>

#include "skin/SkinBitmap.h"

namespace qr {
namespace {

constexpr UINT_PTR kBlinkTimer = 0;
constexpr UINT kBlinkPeriodMs = 200;

HBITMAP LoadPicture(int id) {
    return LoadBitmapA(skin::ResourceModule(), MAKEINTRESOURCEA(static_cast<WORD>(id)));
}

}  // namespace

SkinButton::SkinButton() : slot_(std::make_shared<skin::WindowButtonSlot>()) {}

SkinButton::~SkinButton() {
    if (hwnd() && IsWindow(hwnd())) {
        KillTimer(hwnd(), kBlinkTimer);
        // The control would otherwise go on showing a picture that is deleted below.
        Show(nullptr);
    }
    Detach();
    pressedImage_.reset();
    highlightImage_.reset();
    normalImage_.reset();
}

void SkinButton::OnAttached() { slot_->target().Bind(hwnd()); }

void SkinButton::OnDetaching() { slot_->target().Unbind(); }

bool SkinButton::LoadImages(int normalId, int highlightId, int pressedId) {
    // Old pictures are released only after the control shows a new one, so it never holds a
    // deleted bitmap.
    const bool reloading = normalImage_ || highlightImage_ || pressedImage_;
    skin::BitmapHandle oldNormal = std::move(normalImage_);
    skin::BitmapHandle oldHighlight = std::move(highlightImage_);
    skin::BitmapHandle oldPressed = std::move(pressedImage_);

    normalImage_.reset(LoadPicture(normalId));
    highlightImage_.reset(LoadPicture(highlightId < 0 ? normalId : highlightId));
    pressedImage_.reset(LoadPicture(pressedId < 0 ? normalId : pressedId));
    bool allLoaded = static_cast<bool>(normalImage_);
    if (highlightId >= 0) allLoaded = allLoaded && highlightImage_;
    if (pressedId >= 0) allLoaded = allLoaded && pressedImage_;
    if (reloading) Show(normalImage_.get());
    return allLoaded;
}

void SkinButton::Show(HBITMAP picture) {
    if (!hwnd()) return;
    HBITMAP previous = reinterpret_cast<HBITMAP>(
        SendMessageA(hwnd(), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture)));
    // The first swap hands back the picture the control loaded itself from its template text,
    // which is then ours to delete; every later one is a picture this object owns.
    if (!templatePictureReleased_) {
        templatePictureReleased_ = true;
        if (previous && previous != picture) DeleteObject(previous);
    }
}

void SkinButton::ShowNormal() {
    if (!blinking_) Show(normalImage_.get());
}

void SkinButton::StartBlink() {
    if (skin::OnOtherThread(hwnd())) {
        // The timer must belong to the control's thread, where its ticks are handled.
        slot_->StartBlink();
        return;
    }
    if (hwnd()) SetTimer(hwnd(), kBlinkTimer, kBlinkPeriodMs, nullptr);
    blinking_ = true;
}

LRESULT SkinButton::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
        if (blinking_) return 0;  // hovering shows nothing while the button blinks
        Show(highlightImage_.get());
        break;
    case WM_LBUTTONDOWN:
        // The static's own handling then notifies the parent: the click acts on the press.
        Show(pressedImage_.get());
        break;
    case WM_TIMER:
        Show(blinkShowsNormal_ ? highlightImage_.get() : normalImage_.get());
        blinkShowsNormal_ = !blinkShowsNormal_;
        break;
    case skin::kSlotEnable:
        EnableWindow(hwnd(), wParam != 0);
        return 0;
    case skin::kSlotStartBlink:
        StartBlink();
        return 0;
    default:
        break;
    }
    return CallPrevious(message, wParam, lParam);
}

}  // namespace qr
