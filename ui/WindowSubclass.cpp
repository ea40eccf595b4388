#include "ui/WindowSubclass.h"

namespace qr::ui {
namespace {

// The object travels in a window property; the previous procedure does too, so a window whose
// object has let go while someone else's procedure sits above ours still reaches its own.
constexpr wchar_t kObjectProperty[] = L"qr.subclass.object";
constexpr wchar_t kPreviousProperty[] = L"qr.subclass.previous";

}  // namespace

WindowSubclass::~WindowSubclass() { Detach(); }

bool WindowSubclass::Attach(HWND window) {
    if (hwnd_ || !window || !IsWindow(window)) return false;
    if (GetPropW(window, kObjectProperty) || GetPropW(window, kPreviousProperty)) return false;
    if (!SetPropW(window, kObjectProperty, this)) return false;
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (!previous || !SetPropW(window, kPreviousProperty, reinterpret_cast<HANDLE>(previous))) {
        RemovePropW(window, kObjectProperty);
        return false;
    }
    hwnd_ = window;
    previous_ = previous;
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowSubclass::Procedure));
    OnAttached();
    return true;
}

void WindowSubclass::Detach() {
    if (!hwnd_) return;
    OnDetaching();
    HWND window = hwnd_;
    RemovePropW(window, kObjectProperty);
    auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
    if (current == &WindowSubclass::Procedure) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        RemovePropW(window, kPreviousProperty);
    }
    // Otherwise a later subclass calls ours: the previous-procedure property stays so ours can
    // still forward; it goes with the window.
    hwnd_ = nullptr;
    previous_ = nullptr;
}

LRESULT WindowSubclass::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallPrevious(message, wParam, lParam);
}

LRESULT WindowSubclass::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!previous_) return DefWindowProcW(hwnd_, message, wParam, lParam);
    return CallWindowProcW(previous_, hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK WindowSubclass::Procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    auto* self = static_cast<WindowSubclass*>(GetPropW(window, kObjectProperty));
    if (!self) {
        auto previous = reinterpret_cast<WNDPROC>(GetPropW(window, kPreviousProperty));
        if (message == WM_NCDESTROY) RemovePropW(window, kPreviousProperty);
        if (previous) return CallWindowProcW(previous, window, message, wParam, lParam);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // The control's own procedure finishes its teardown first; then the object lets go, so
        // nothing reaches it from a window that no longer exists.
        LRESULT result = self->CallPrevious(message, wParam, lParam);
        self->Detach();
        return result;
    }
    return self->HandleMessage(message, wParam, lParam);
}

}  // namespace qr::ui
