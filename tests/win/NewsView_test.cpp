// The news view's guard, driven the way the browser control calls its event sinks. The control
// itself needs an HTML engine that the tests' Wine runs without, so the events are played here.
#include <windows.h>

#include <exdisp.h>
#include <exdispid.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "app/NewsViewEvents_win.h"
#include "ui/OleScope.h"

namespace qr {
namespace {

// A fresh guard in `guard` (references cannot be copied out of a function).
void MakeGuard(ui::ComPtr<IDispatch>& guard) { ASSERT_EQ(CreateNewsNavigationGuard(guard.Receive()), S_OK); }

// Plays one event with its arguments in declaration order (Invoke takes them last first) and says
// whether the guard set Cancel.
bool Cancelled(IDispatch* guard, DISPID event, VARIANT* declared, UINT count, VARIANT_BOOL* cancel) {
    VARIANT reversed[8];
    for (UINT i = 0; i < count; ++i) reversed[i] = declared[count - 1 - i];
    DISPPARAMS params{reversed, nullptr, count, 0};
    *cancel = VARIANT_FALSE;
    EXPECT_EQ(guard->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_OK);
    return *cancel == VARIANT_TRUE;
}

VARIANT ByRefBool(VARIANT_BOOL* value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_BOOL;
    v.pboolVal = value;
    return v;
}

VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

// BeforeNavigate2 as the control sends it: the URL as a reference to a VARIANT holding a BSTR.
bool NavigationCancelled(IDispatch* guard, const std::wstring& url) {
    BSTR text = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    VARIANT inner;
    VariantInit(&inner);
    inner.vt = VT_BSTR;
    inner.bstrVal = text;
    VARIANT urlArg;
    VariantInit(&urlArg);
    urlArg.vt = VT_BYREF | VT_VARIANT;
    urlArg.pvarVal = &inner;
    VARIANT_BOOL cancel;
    VARIANT args[7] = {Empty(), urlArg, Empty(), Empty(), Empty(), Empty(), ByRefBool(&cancel)};
    const bool cancelled = Cancelled(guard, DISPID_BEFORENAVIGATE2, args, 7, &cancel);
    SysFreeString(text);
    return cancelled;
}

TEST(NewsViewGuard, WebPagesAndTheBlankPageLoad) {
    ui::ComPtr<IDispatch> guard;
    MakeGuard(guard);
    for (const wchar_t* url : {L"http://www.example.com/news.html", L"HTTPS://www.example.com/", L"about:blank",
                               L"http://127.0.0.1:8000/tzan/news.html", L"http://www.example.com/\uB274\uC2A4.html"})
        EXPECT_FALSE(NavigationCancelled(guard.get(), url)) << std::string(url, url + wcslen(url));
}

TEST(NewsViewGuard, EveryOtherNavigationIsCancelled) {
    ui::ComPtr<IDispatch> guard;
    MakeGuard(guard);
    for (const wchar_t* url :
         {L"file:///C:/Windows/win.ini", L"\\\\host\\share\\x.hta", L"javascript:alert(1)", L"vbscript:msgbox(1)",
          L"res://ieframe.dll/navcancl.htm", L"mk:@MSITStore:C:\\x.chm::/a.htm", L"ms-its:C:\\x.chm::/a.htm",
          L"about:<script>alert(1)</script>", L" http://www.example.com/", L"http://user@www.example.com/",
          L"http://intranet/", L"http:\\\\www.example.com\\", L"http://\uB274\uC2A4.example.com/", L""})
        EXPECT_TRUE(NavigationCancelled(guard.get(), url)) << std::string(url, url + wcslen(url));
    // What follows a NUL must not ride on the web page before it.
    EXPECT_TRUE(NavigationCancelled(guard.get(), std::wstring(L"http://www.example.com/\0file:///C:/x", 36)));
}

TEST(NewsViewGuard, NewWindowsAndDownloadsAreCancelledPagesAreNot) {
    ui::ComPtr<IDispatch> guard;
    MakeGuard(guard);
    VARIANT_BOOL cancel;
    VARIANT newWindow2[2] = {Empty(), ByRefBool(&cancel)};
    EXPECT_TRUE(Cancelled(guard.get(), DISPID_NEWWINDOW2, newWindow2, 2, &cancel));
    BSTR url = SysAllocString(L"http://www.example.com/popup.html");
    VARIANT urlArg = Empty();
    urlArg.vt = VT_BSTR;
    urlArg.bstrVal = url;
    VARIANT newWindow3[5] = {Empty(), ByRefBool(&cancel), Empty(), Empty(), urlArg};
    EXPECT_TRUE(Cancelled(guard.get(), DISPID_NEWWINDOW3, newWindow3, 5, &cancel));
    SysFreeString(url);

    VARIANT activeDocument = Empty();
    activeDocument.vt = VT_BOOL;
    activeDocument.boolVal = VARIANT_TRUE;  // the page the control shows itself
    VARIANT pageLoad[2] = {activeDocument, ByRefBool(&cancel)};
    EXPECT_FALSE(Cancelled(guard.get(), DISPID_FILEDOWNLOAD, pageLoad, 2, &cancel));
    activeDocument.boolVal = VARIANT_FALSE;  // a file the control would hand to a download dialog
    VARIANT download[2] = {activeDocument, ByRefBool(&cancel)};
    EXPECT_TRUE(Cancelled(guard.get(), DISPID_FILEDOWNLOAD, download, 2, &cancel));
    VARIANT oldDownload[1] = {ByRefBool(&cancel)};
    EXPECT_TRUE(Cancelled(guard.get(), DISPID_FILEDOWNLOAD, oldDownload, 1, &cancel));
}

TEST(NewsViewGuard, AnswersAsAnEventSinkAndIgnoresOtherEvents) {
    ui::ComPtr<IDispatch> guard;
    MakeGuard(guard);
    ui::ComPtr<IDispatch> sink;
    ASSERT_EQ(guard->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(sink.Receive())), S_OK);
    VARIANT_BOOL cancel;
    VARIANT args[2] = {Empty(), ByRefBool(&cancel)};
    EXPECT_FALSE(Cancelled(guard.get(), DISPID_TITLECHANGE, args, 2, &cancel));
    EXPECT_EQ(guard->Invoke(DISPID_BEFORENAVIGATE2, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              S_OK);
}

// The system's browser control (present without its HTML engine) takes the guard as its events'
// sink and lets it go again.
TEST(NewsViewGuard, ConnectsToTheBrowserControlsEvents) {
    ui::OleScope ole;
    ASSERT_TRUE(ole.ok());
    {
        ui::ComPtr<IWebBrowser2> browser;
        ASSERT_EQ(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IWebBrowser2,
                                   reinterpret_cast<void**>(browser.Receive())),
                  S_OK);
        ui::ComPtr<IDispatch> guard;
        MakeGuard(guard);
        NewsEventsConnection connection;
        ASSERT_TRUE(connection.Connect(browser.get(), guard.get()));
        EXPECT_EQ(guard->AddRef(), 3u);  // ours, the control's, this one
        guard->Release();
        connection.Disconnect();
        EXPECT_EQ(guard->AddRef(), 2u);
        guard->Release();
        EXPECT_FALSE(connection.Connect(nullptr, guard.get()));
    }
}

}  // namespace
}  // namespace qr
