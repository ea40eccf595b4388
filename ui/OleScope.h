// OLE, and with it apartment-threaded COM, on the calling thread for as long as the scope lives: the
// browser control and the URL moniker download need it.
#pragma once

#include <ole2.h>

namespace qr::ui {

class OleScope {
public:
    OleScope() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleScope() {
        if (ok_) OleUninitialize();
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

}  // namespace qr::ui
