// The patch worker's thread: started detached (nobody joins it; the process end ends it), with a
// completion signal that start-up may use to give a stopping worker a moment before the process
// ends.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

namespace qr {

class WorkerCompletion {
public:
    WorkerCompletion();
    ~WorkerCompletion();
    WorkerCompletion(const WorkerCompletion&) = delete;
    WorkerCompletion& operator=(const WorkerCompletion&) = delete;

    void MarkDone() { SetEvent(event_); }
    // Waits up to `milliseconds` for the worker to end, handling messages sent to this thread
    // meanwhile so a worker blocked in SendMessage is answered. True when it ended.
    bool WaitWhilePumping(DWORD milliseconds) const;

private:
    HANDLE event_;
};

// Runs `body` on a new detached thread; the returned object is signalled when it returns.
// Null when no thread could be started.
std::shared_ptr<WorkerCompletion> StartDetachedWorker(std::function<void()> body);

}  // namespace qr
