// A modal dialog built from a resource template. One dialog procedure serves every dialog: the
// object arrives with WM_INITDIALOG and each message goes to its virtual handler. The modal run is
// our own message loop, so the dialog sees every message of its thread before the dialog manager
// does (PreTranslateMessage).
#pragma once

#include <windows.h>

namespace qr::ui {

class Dialog {
public:
    Dialog(int templateId, HWND parent);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the window, runs it until EndDialog, destroys it; -1 when it cannot be created.
    virtual INT_PTR DoModal();
    HWND hwnd() const { return hwnd_; }

protected:
    // Return false to keep the dialog manager from setting the focus.
    virtual bool OnInitDialog() { return true; }
    // Called for each message of the thread addressed to this dialog or one of its descendants;
    // true swallows it.
    virtual bool PreTranslateMessage(MSG& /*msg*/) { return false; }
    // True when handled, with `result` as the message's result; false leaves it to the dialog
    // manager's default processing.
    virtual bool OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT& /*result*/) {
        return false;
    }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // Ends the modal run; the window is destroyed once the loop has noticed.
    void EndDialog(INT_PTR result);
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

private:
    static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    bool IsOwnWindow(HWND hwnd) const;

    int templateId_;
    HWND parent_;
    HWND hwnd_ = nullptr;
    bool ending_ = false;
    INT_PTR result_ = -1;
};

}  // namespace qr::ui
