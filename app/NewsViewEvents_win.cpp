#include "app/NewsViewEvents_win.h"

#include <exdispid.h>
#include <ocidl.h>

#include <string>

#include "common/WebAddress.h"

namespace qr {
namespace {

// The event's address as the rule reads it: ASCII kept, every other character one non-ASCII byte,
// embedded NULs kept (a BSTR carries its length), so the rule sees the address's real shape.
std::string AddressShape(BSTR address) {
    std::string shape;
    if (!address) return shape;
    const UINT length = SysStringLen(address);
    shape.reserve(length);
    for (UINT i = 0; i < length; ++i)
        shape.push_back(address[i] < 0x80 ? static_cast<char>(address[i]) : '\x80');
    return shape;
}

// BeforeNavigate2 passes its URL as a reference to a VARIANT holding a BSTR; callers of Invoke may
// pass it plainly.
BSTR AddressOf(const VARIANT& value) {
    if (value.vt == VT_BSTR) return value.bstrVal;
    if (value.vt == (VT_BYREF | VT_BSTR) && value.pbstrVal) return *value.pbstrVal;
    if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal && value.pvarVal->vt == VT_BSTR)
        return value.pvarVal->bstrVal;
    return nullptr;
}

// Only ever sets Cancel: another sink's cancel must not be undone here.
void CancelThrough(const VARIANT& cancel) {
    if (cancel.vt == (VT_BYREF | VT_BOOL) && cancel.pboolVal) *cancel.pboolVal = VARIANT_TRUE;
}

// FileDownload also fires for every page the control displays itself (ActiveDocument true); only a
// real download is cancelled. An argument of another type counts as a download.
bool IsActiveDocument(const VARIANT& value) {
    if (value.vt == VT_BOOL) return value.boolVal != VARIANT_FALSE;
    if (value.vt == (VT_BYREF | VT_BOOL) && value.pboolVal) return *value.pboolVal != VARIANT_FALSE;
    return false;
}

class NewsNavigationGuard final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_DWebBrowserEvents2)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    // Arguments arrive last first: rgvarg[0] is the event's last parameter.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID event, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (!params || !params->rgvarg) return S_OK;
        const VARIANT* args = params->rgvarg;
        const UINT count = params->cArgs;
        switch (event) {
        case DISPID_BEFORENAVIGATE2:  // (pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel)
            if (count == 7 && !IsNewsNavigationAllowed(AddressShape(AddressOf(args[5])))) CancelThrough(args[0]);
            break;
        case DISPID_NEWWINDOW2:  // (ppDisp, Cancel)
            if (count == 2) CancelThrough(args[0]);
            break;
        case DISPID_NEWWINDOW3:  // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
            if (count == 5) CancelThrough(args[3]);
            break;
        case DISPID_FILEDOWNLOAD:  // (ActiveDocument, Cancel); before IE 6 only (Cancel)
            if (count == 1 || (count == 2 && !IsActiveDocument(args[1]))) CancelThrough(args[0]);
            break;
        default:
            break;
        }
        return S_OK;
    }

private:
    ~NewsNavigationGuard() = default;
    LONG references_ = 1;
};

}  // namespace

HRESULT CreateNewsNavigationGuard(IDispatch** guard) {
    if (!guard) return E_POINTER;
    *guard = new NewsNavigationGuard();
    return S_OK;
}

bool NewsEventsConnection::Connect(IUnknown* browser, IDispatch* sink) {
    Disconnect();
    ui::ComPtr<IConnectionPointContainer> container;
    if (!browser || !sink ||
        FAILED(browser->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.Receive()))) ||
        FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point_.Receive())) || !point_)
        return false;
    if (FAILED(point_->Advise(sink, &cookie_))) {
        point_.Reset();
        return false;
    }
    return true;
}

void NewsEventsConnection::Disconnect() {
    if (point_) point_->Unadvise(cookie_);
    point_.Reset();
    cookie_ = 0;
}

}  // namespace qr
