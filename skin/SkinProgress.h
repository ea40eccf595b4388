// The skinned progress bar: a progress control that keeps its own copy of range and position and
// paints its filled part by tiling a small bitmap. The worker drives it through slot().
#pragma once

#include <windows.h>

#include <memory>

#include "skin/ControlSlots.h"
#include "skin/GdiHandles.h"
#include "skin/WindowSlots.h"
#include "ui/WindowSubclass.h"

namespace qr {

class SkinProgress : public ui::WindowSubclass {
public:
    SkinProgress();
    ~SkinProgress() override;

    // 1 on success (also for a null name, which empties the bar), 0 when the bitmap did not load.
    // A repaint of exactly 1 invalidates the whole control.
    int LoadFillBitmap(LPCSTR name, int repaint);
    int LoadFillBitmap(int id, int repaint) { return LoadFillBitmap(MAKEINTRESOURCEA(id), repaint); }
    void SetRange(int lower, int upper);    // 16-bit range message
    void SetRange32(int lower, int upper);  // 32-bit range message
    int SetPos(int position);               // returns the control's previous position

    int lower() const { return lower_; }
    int upper() const { return upper_; }
    int span() const { return span_; }
    int pos() const { return pos_; }
    bool hasFill() const { return static_cast<bool>(fillBitmap_); }

    // What the worker holds; valid for as long as anyone holds it, a no-op once the bar is gone.
    std::shared_ptr<ProgressSlot> slot() const { return slot_; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnAttached() override;
    void OnDetaching() override;

private:
    void StoreRange(int lower, int upper);
    int FillRightNow() const;
    bool FillShrinks() const;
    void UncoverParent();
    void Paint();

    int lower_ = 0;
    int upper_ = 100;
    int span_ = 100;
    int pos_ = 0;
    skin::BitmapHandle fillBitmap_;
    skin::PaletteHandle fillPalette_;
    int fillWidth_ = 0;
    int fillHeight_ = 0;
    int paintedFillRight_ = 0;  // right edge of the fill on the screen, as last painted
    std::shared_ptr<skin::WindowProgressSlot> slot_;
};

}  // namespace qr
