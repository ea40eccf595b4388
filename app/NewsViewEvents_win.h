// The news view's guard on its browser control: receives the control's events and cancels every
// navigation the news rule refuses (its own and the page's, frames included), every new window
// and every file download.
#pragma once

#include <windows.h>

#include <exdisp.h>

#include "ui/ComPtr.h"

namespace qr {

// A new guard with one reference, as an event sink for DWebBrowserEvents2.
HRESULT CreateNewsNavigationGuard(IDispatch** guard);

// Keeps a guard connected to a browser control's events while it lives.
class NewsEventsConnection {
public:
    NewsEventsConnection() = default;
    ~NewsEventsConnection() { Disconnect(); }
    NewsEventsConnection(const NewsEventsConnection&) = delete;
    NewsEventsConnection& operator=(const NewsEventsConnection&) = delete;

    // False when the control offers no DWebBrowserEvents2 or refuses the sink.
    bool Connect(IUnknown* browser, IDispatch* sink);
    void Disconnect();

private:
    ui::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace qr
