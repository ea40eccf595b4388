#include "app/PatchListFetch_win.h"

#include <windows.h>

#include <urlmon.h>
#include <wininet.h>

#include "platform/Cp949_win.h"
#include "platform/FileSystem.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

// Watches the download as it arrives and ends it once it passes the patch list's size, so an endless
// answer never reaches the disk beyond a few KB. Lives on the caller's stack for one call.
class BoundedDownload : public IBindStatusCallback {
public:
    explicit BoundedDownload(ULONG limit) : limit_(limit) {}
    ~BoundedDownload() {
        if (binding_) binding_->Release();
    }
    BoundedDownload(const BoundedDownload&) = delete;
    BoundedDownload& operator=(const BoundedDownload&) = delete;

    bool exceeded() const { return exceeded_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *object = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The object outlives the call that uses it, so counting references has nothing to free.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) override {
        const bool data = statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
                          statusCode == BINDSTATUS_ENDDOWNLOADDATA;
        // A larger announced length is refused before the body; a body without one, as it grows.
        if (data && (progress > limit_ || progressMax > limit_)) {
            exceeded_ = true;
            // Not every URL moniker ends the transfer on E_ABORT alone; the binding's Abort does.
            if (binding_) binding_->Abort();
            return E_ABORT;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
        if (binding && !binding_) {
            binding_ = binding;
            binding_->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
        if (binding_) binding_->Release();
        binding_ = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

private:
    ULONG limit_;
    bool exceeded_ = false;
    IBinding* binding_ = nullptr;
};

}  // namespace

void FetchPatchList(const std::string& address, const std::string& localPath) {
    FileSystem& fs = SystemFileSystem();
    fs.Remove(localPath);
    const std::wstring url = WidenCp949(address);
    // The URL moniker serves from the internet cache when it can; the list must be the server's
    // current one, so any cached copy is dropped first.
    DeleteUrlCacheEntryW(url.c_str());
    BoundedDownload watch(static_cast<ULONG>(kMaxPatchListBytes));
    const HRESULT result = URLDownloadToFileW(nullptr, url.c_str(), WidenCp949(localPath).c_str(), 0, &watch);
    // Whatever an aborted or failed download left is no patch list: none is better than a cut one.
    if (FAILED(result) || watch.exceeded()) fs.Remove(localPath);
}

}  // namespace qr
