#include "app/WindowPatchUi_win.h"

#include <string>

#include "platform/Cp949_win.h"
#include "platform/DebugTrace.h"

namespace qr {
namespace {

// The rows of text the window paints: the counters drawn at y 65 and the status line drawn at
// y 100. The worker names areas by the top of a row, which would leave the lower part of the
// glyphs stale (digits smeared over each other, a status text that never changes), so a request
// that touches a row is grown to the whole row.
struct TextRow {
    LONG top, bottom;
};
constexpr TextRow kTextRows[] = {{63, 88}, {88, 130}};

RECT CoverTextRows(const ClientRect& area) {
    RECT rect{area.left, area.top, area.right, area.bottom};
    for (const TextRow& row : kTextRows) {
        if (rect.top < row.bottom && rect.bottom > row.top) {
            if (row.top < rect.top) rect.top = row.top;
            if (row.bottom > rect.bottom) rect.bottom = row.bottom;
        }
    }
    return rect;
}

}  // namespace

void WindowPatchUi::Invalidate(const ClientRect* area, bool erase) {
    // Invalidation may come from any thread; the paint itself happens on the window's thread.
    HWND window = window_.load();
    if (!window) return;
    if (!area) {
        InvalidateRect(window, nullptr, erase ? TRUE : FALSE);
        return;
    }
    const RECT rect = CoverTextRows(*area);
    InvalidateRect(window, &rect, erase ? TRUE : FALSE);
}

// The timer must belong to the window's thread, so the request is posted there; start and stop
// keep their order because both travel through the same queue.
void WindowPatchUi::StartExtractTimer() {
    if (HWND window = window_.load()) PostMessageW(window, kMsgExtractTimer, 1, 0);
    DebugTrace("시작\n");
}

void WindowPatchUi::StopExtractTimer() {
    if (HWND window = window_.load()) PostMessageW(window, kMsgExtractTimer, 0, 0);
    DebugTrace("시작-끝\n");
}

// Shown by the window's thread, owned by the window, and the worker waits until it is closed, as
// a modal box on the worker's thread would make it.
void WindowPatchUi::ShowMessage(const std::string& text) {
    HWND window = window_.load();
    if (!window) return;
    const std::wstring wide = WidenCp949(text);
    SendMessageW(window, kMsgShowMessage, 0, reinterpret_cast<LPARAM>(&wide));
}

void WindowPatchUi::BeginWaitCursor() {
    if (HWND window = window_.load()) PostMessageW(window, kMsgWaitCursor, 1, 0);
}

void WindowPatchUi::EndWaitCursor() {
    if (HWND window = window_.load()) PostMessageW(window, kMsgWaitCursor, 0, 0);
}

}  // namespace qr
