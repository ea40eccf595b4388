// Key messages for a hosted control go to its in-place object first; the browser control itself
// needs an HTML engine this test machine's Wine lacks, so a control of our own stands in for it.
#include <windows.h>

#include <ole2.h>

#include <gtest/gtest.h>

#include <vector>

#include "ui/ControlKeys.h"

namespace qr {
namespace {

// Takes Tab (as a page moves between its links) and lets every other key go on.
class TabTakingControl : public IOleInPlaceActiveObject {
public:
    std::vector<UINT> offered;
    std::vector<HWND> offeredTo;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IOleInPlaceActiveObject) {
            *out = static_cast<IOleInPlaceActiveObject*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override {
        offered.push_back(msg->message);
        offeredTo.push_back(msg->hwnd);
        return msg->message == WM_KEYDOWN && msg->wParam == VK_TAB ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    ULONG references() const { return references_; }

private:
    ULONG references_ = 1;
};

HWND MakeWindow(HWND parent) {
    return CreateWindowExW(0, L"STATIC", L"", parent ? WS_CHILD : WS_OVERLAPPED, 0, 0, 100, 100, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

MSG Key(HWND to, UINT message, WPARAM key) {
    MSG msg{};
    msg.hwnd = to;
    msg.message = message;
    msg.wParam = key;
    return msg;
}

TEST(ControlKeys, KeysInsideTheSiteGoToTheControlFirst) {
    HWND window = MakeWindow(nullptr);
    ASSERT_TRUE(window);
    HWND site = MakeWindow(window);
    HWND page = MakeWindow(site);      // the control's own window inside the site
    HWND button = MakeWindow(window);  // a sibling of the site: the dialog's own control
    TabTakingControl control;

    MSG tab = Key(page, WM_KEYDOWN, VK_TAB);
    EXPECT_TRUE(ui::ForwardKeyToControl(site, &control, tab));  // taken: the dialog never moves the focus
    MSG letter = Key(page, WM_KEYDOWN, 'A');
    EXPECT_FALSE(ui::ForwardKeyToControl(site, &control, letter));  // offered, then handled as usual
    MSG character = Key(site, WM_CHAR, 'a');
    EXPECT_FALSE(ui::ForwardKeyToControl(site, &control, character));
    EXPECT_EQ(control.offered, (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_CHAR}));
    EXPECT_EQ(control.offeredTo, (std::vector<HWND>{page, page, site}));

    // Keys for other windows and messages that are not keys never reach the control.
    MSG elsewhere = Key(button, WM_KEYDOWN, VK_TAB);
    EXPECT_FALSE(ui::ForwardKeyToControl(site, &control, elsewhere));
    MSG mouse = Key(page, WM_MOUSEMOVE, 0);
    EXPECT_FALSE(ui::ForwardKeyToControl(site, &control, mouse));
    MSG noControl = Key(page, WM_KEYDOWN, VK_TAB);
    EXPECT_FALSE(ui::ForwardKeyToControl(site, nullptr, noControl));
    EXPECT_EQ(control.offered.size(), 3u);
    EXPECT_EQ(control.references(), 1u);  // every reference taken was given back

    DestroyWindow(window);
}

}  // namespace
}  // namespace qr
