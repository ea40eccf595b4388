#include "app/NewsView_win.h"

#include <oleauto.h>

#include "common/WebAddress.h"
#include "platform/Cp949_win.h"
#include "ui/ControlKeys.h"
#include "ui/Gdi.h"

namespace qr {
namespace {

constexpr wchar_t kViewClass[] = L"QuorvelNewsView";
constexpr wchar_t kHostClass[] = L"AtlAxWin";
// CLSID_WebBrowser: the host creates the control from its window text.
constexpr wchar_t kWebBrowserClsid[] = L"{8856F961-340A-11D0-A96B-00C04FD705A2}";

// CLSID_HTMLDocument: the engine that renders pages inside the browser control. Without it (Wine
// without its HTML engine) the control would only show an empty white box.
constexpr CLSID kHtmlDocumentClsid = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

bool HtmlEngineAvailable() {
    ui::ComPtr<IUnknown> document;
    return SUCCEEDED(CoCreateInstance(kHtmlDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(document.Receive())));
}

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

// atl.dll stays loaded for the whole process: its windows need the module while they exist.
struct AtlModule {
    HMODULE module = nullptr;
    AtlAxWinInitFn init = nullptr;
    AtlAxGetControlFn getControl = nullptr;
};

const AtlModule& Atl() {
    static const AtlModule atl = [] {
        AtlModule m;
        m.module = LoadLibraryW(L"atl.dll");
        if (m.module) {
            m.init = reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(m.module, "AtlAxWinInit")));
            m.getControl =
                reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(m.module, "AtlAxGetControl")));
        }
        return m;
    }();
    return atl;
}

bool RegisterViewClass(WNDPROC procedure) {
    static const bool registered = [procedure] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kViewClass;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

}  // namespace

bool EnableControlHosting() {
    const AtlModule& atl = Atl();
    return atl.init && atl.getControl && atl.init();
}

CMyHtmlView::~CMyHtmlView() {
    ReleaseBrowser();
    if (window_ && IsWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

bool CMyHtmlView::Create(const NewsViewOptions& options) {
    if (!RegisterViewClass(&CMyHtmlView::Procedure)) return false;
    fallbackBitmapId_ = options.fallbackBitmapId;
    const RECT& r = options.rect;
    window_ = CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, options.parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(options.childId)), GetModuleHandleW(nullptr),
                              nullptr);
    if (!window_) return false;
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    CreateBrowser();
    return true;
}

void CMyHtmlView::CreateBrowser() {
    const AtlModule& atl = Atl();
    if (!atl.getControl || !HtmlEngineAvailable()) return;
    RECT client;
    GetClientRect(window_, &client);
    host_ = CreateWindowExW(0, kHostClass, kWebBrowserClsid, WS_CHILD | WS_VISIBLE, 0, 0, client.right, client.bottom,
                            window_, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!host_) return;
    ui::ComPtr<IUnknown> control;
    ui::ComPtr<IDispatch> guard;
    // A host without a browser inside is no use, and one whose navigations cannot be watched is not
    // safe in an elevated process: the fallback picture shows instead.
    if (FAILED(atl.getControl(host_, control.Receive())) || !control ||
        FAILED(control->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(browser_.Receive()))) ||
        FAILED(CreateNewsNavigationGuard(guard.Receive())) || !events_.Connect(control.get(), guard.get())) {
        ReleaseBrowser();
        DestroyWindow(host_);
        host_ = nullptr;
    }
}

void CMyHtmlView::ReleaseBrowser() {
    events_.Disconnect();
    browser_.Reset();
}

void CMyHtmlView::Navigate2(const std::string& url) {
    if (!browser_) return;
    // A missing or refused address shows the same blank page.
    const std::string target = IsWebPageAddress(url) ? url : std::string(kBlankPageAddress);
    VARIANT address;
    VariantInit(&address);
    address.vt = VT_BSTR;
    address.bstrVal = SysAllocString(WidenCp949(target).c_str());
    browser_->Navigate2(&address, nullptr, nullptr, nullptr, nullptr);
    VariantClear(&address);
}

void CMyHtmlView::OnInitialUpdate() {
    if (window_) UpdateWindow(window_);
}

bool CMyHtmlView::TranslateAccelerator(MSG& msg) {
    return browser_ && ui::ForwardKeyToControl(window_, browser_.get(), msg);
}

// Without a browser the panel shows what the parent's background has at this place, so the view
// looks like part of the window.
void CMyHtmlView::PaintFallback() {
    ui::PaintScope paint(window_);
    if (!fallbackBitmapId_) return;
    ui::GdiObject<HBITMAP> background(static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(fallbackBitmapId_), IMAGE_BITMAP, 0, 0, 0)));
    if (!background) return;
    POINT origin{0, 0};
    MapWindowPoints(window_, GetParent(window_), &origin, 1);
    ui::MemoryDc memory(paint.dc());
    ui::Selection selected(memory.get(), background.get());
    RECT client;
    GetClientRect(window_, &client);
    BitBlt(paint.dc(), 0, 0, client.right, client.bottom, memory.get(), origin.x, origin.y, SRCCOPY);
}

LRESULT CALLBACK CMyHtmlView::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CMyHtmlView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) {
        switch (message) {
        case WM_ERASEBKGND:
            return 1;  // the paint covers everything
        case WM_PAINT:
            if (!self->host_) {
                self->PaintFallback();
                return 0;
            }
            break;
        case WM_SIZE:
            if (self->host_) MoveWindow(self->host_, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case WM_DESTROY:
            // The control goes with its host window right after; no reference may outlive it.
            self->ReleaseBrowser();
            self->host_ = nullptr;
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->window_ = nullptr;
            break;
        default:
            break;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace qr
