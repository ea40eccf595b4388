// The news panel: the system's web browser control, hosted through atl.dll's AtlAxWin window
// class inside a child window of our own. Where the system has no browser control, no HTML engine
// or no atl.dll, the child window stays and shows the window's background at its place instead.
// The control only ever shows web pages: other navigations, new windows and downloads are cancelled.
#pragma once

#include <windows.h>

#include <exdisp.h>

#include <string>

#include "app/NewsViewEvents_win.h"
#include "ui/ComPtr.h"

namespace qr {

// Makes the AtlAxWin class available to this process; false when the system cannot host controls.
// Needs COM initialised on the calling thread (OleInitialize).
bool EnableControlHosting();

struct NewsViewOptions {
    HWND parent = nullptr;
    RECT rect{};                 // in the parent's client coordinates
    int childId = 0;
    int fallbackBitmapId = 0;    // the parent's background, drawn when there is no browser
};

class CMyHtmlView {
public:
    CMyHtmlView() = default;
    ~CMyHtmlView();
    CMyHtmlView(const CMyHtmlView&) = delete;
    CMyHtmlView& operator=(const CMyHtmlView&) = delete;

    // Creates the view's window and, when the system offers it, the browser control filling it.
    bool Create(const NewsViewOptions& options);
    // Navigates to `url` (code page 949), or to the blank page when it is no web page address;
    // nothing without a browser control.
    void Navigate2(const std::string& url);
    void OnInitialUpdate();
    // Offers a key message meant for the page to the browser control first; true when it took it.
    bool TranslateAccelerator(MSG& msg);

    HWND hwnd() const { return window_; }
    bool hasBrowser() const { return static_cast<bool>(browser_); }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void CreateBrowser();
    void ReleaseBrowser();
    void PaintFallback();

    HWND window_ = nullptr;
    HWND host_ = nullptr;
    int fallbackBitmapId_ = 0;
    ui::ComPtr<IWebBrowser2> browser_;
    NewsEventsConnection events_;
};

}  // namespace qr
