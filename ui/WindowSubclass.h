// Takes over the window procedure of a window that already exists (a control made from a dialog
// template) and hands its messages to a virtual handler; what the handler does not take goes to
// the procedure that was there before. One object per window; objects are not copyable.
#pragma once

#include <windows.h>

namespace qr::ui {

class WindowSubclass {
public:
    WindowSubclass() = default;
    virtual ~WindowSubclass();
    WindowSubclass(const WindowSubclass&) = delete;
    WindowSubclass& operator=(const WindowSubclass&) = delete;

    // False for a null or dead window, or when this object or another one already holds it.
    bool Attach(HWND window);
    // Gives the window back its own procedure; a no-op when nothing is attached.
    void Detach();
    HWND hwnd() const { return hwnd_; }

protected:
    // Runs on the window's thread. The default passes the message on unchanged.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnAttached() {}
    // The window is being destroyed, or Detach was called; hwnd() is still set during the call.
    virtual void OnDetaching() {}

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    WNDPROC previous_ = nullptr;
};

}  // namespace qr::ui
