#include "ui/Dialog.h"

namespace qr::ui {
namespace {

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

}  // namespace

Dialog::Dialog(int templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
    // A dialog object destroyed while its window still exists must not receive more messages.
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
}

INT_PTR Dialog::DoModal() {
    ending_ = false;
    result_ = -1;
    HWND created = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent_,
                                      &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
    if (!created) return -1;
    // The owner is disabled for the run, as a modal dialog does.
    const bool parentWasEnabled = parent_ && IsWindowEnabled(parent_);
    if (parentWasEnabled) EnableWindow(parent_, FALSE);

    MSG msg;
    while (!ending_ && hwnd_) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the outer loop
            break;
        }
        if (IsOwnWindow(msg.hwnd) && PreTranslateMessage(msg)) continue;
        if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    if (parentWasEnabled) EnableWindow(parent_, TRUE);
    if (hwnd_) DestroyWindow(hwnd_);
    return result_;
}

void Dialog::EndDialog(INT_PTR result) {
    result_ = result;
    ending_ = true;
    // Wakes the loop even when no other message is due.
    if (hwnd_) PostMessageW(hwnd_, WM_NULL, 0, 0);
}

bool Dialog::IsOwnWindow(HWND hwnd) const {
    return hwnd_ && hwnd && (hwnd == hwnd_ || IsChild(hwnd_, hwnd));
}

INT_PTR CALLBACK Dialog::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;  // messages before WM_INITDIALOG: the dialog manager's defaults
    INT_PTR answer = FALSE;
    try {
        answer = self->Dispatch(message, wParam, lParam);
    } catch (...) {
        // No exception may cross into the system's code.
        answer = FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    return answer;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog() ? TRUE : FALSE;
    LRESULT result = 0;
    if (OnMessage(message, wParam, lParam, result)) {
        if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
        SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    // Enter and Escape through the dialog manager, and the cancel that the close command posts.
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace qr::ui
