#include "app/WorkerThread_win.h"

#include <system_error>
#include <thread>

namespace qr {

WorkerCompletion::WorkerCompletion() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

WorkerCompletion::~WorkerCompletion() {
    if (event_) CloseHandle(event_);
}

bool WorkerCompletion::WaitWhilePumping(DWORD milliseconds) const {
    if (!event_) return false;
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0;
        const DWORD wait = MsgWaitForMultipleObjects(1, &event_, FALSE, static_cast<DWORD>(deadline - now), QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) return true;
        if (wait != WAIT_OBJECT_0 + 1) return false;
        // Peeking delivers the messages other threads sent; nothing posted is taken off the queue.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

std::shared_ptr<WorkerCompletion> StartDetachedWorker(std::function<void()> body) {
    auto completion = std::make_shared<WorkerCompletion>();
    try {
        std::thread([completion, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                // Nothing may escape the thread's entry.
            }
            completion->MarkDone();
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return completion;
}

}  // namespace qr
