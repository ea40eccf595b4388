// The picture button: a bitmap static control whose picture is swapped among normal, highlight
// and pressed as the mouse moves over it and presses it, and which can be set blinking. The click
// reaches the parent as WM_COMMAND (code 0, the control id) on the press. The worker drives it
// through slot().
#pragma once

#include <windows.h>

#include <memory>

#include "skin/ControlSlots.h"
#include "skin/GdiHandles.h"
#include "skin/WindowSlots.h"
#include "ui/WindowSubclass.h"

namespace qr {

class SkinButton : public ui::WindowSubclass {
public:
    SkinButton();
    ~SkinButton() override;

    // Loads the three pictures by resource id. A negative highlight or pressed id reuses the
    // normal picture there. True only when every picture with an id of its own loaded.
    bool LoadImages(int normalId, int highlightId, int pressedId);
    void ShowNormal();  // ignored while blinking
    // Alternates normal and highlight every 200 ms, highlight first, until the button goes.
    void StartBlink();
    bool blinking() const { return blinking_; }

    std::shared_ptr<ButtonSlot> slot() const { return slot_; }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnAttached() override;
    void OnDetaching() override;

private:
    void Show(HBITMAP picture);

    bool blinkShowsNormal_ = true;
    bool blinking_ = false;
    bool templatePictureReleased_ = false;
    skin::BitmapHandle normalImage_;
    skin::BitmapHandle highlightImage_;
    skin::BitmapHandle pressedImage_;
    std::shared_ptr<skin::WindowButtonSlot> slot_;
};

}  // namespace qr
