#include "patch/FetchQueue.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "patch/DeltaItem.h"
#include "patch/InstallVerify.h"
#include "patch/PartialDownload.h"
#include "patch/TransferLimits.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

// How often the committer looks at the run flag while it waits, so a stop reaches every transfer.
constexpr auto kStopPollInterval = std::chrono::milliseconds(50);

ItemReady ReadyState(DownloadStatus status) {
    switch (status) {
        case DownloadStatus::Complete: return ItemReady::Fetched;
        case DownloadStatus::Stopped: return ItemReady::Stopped;
        default: return ItemReady::Failed;
    }
}

}  // namespace

std::string TargetComparisonKey(const std::string& target) {
    std::string key = AsciiLower(target);
    std::replace(key.begin(), key.end(), '\\', '/');
    return key;
}

bool AlreadyInPlace(FileSystem& fs, const QueuedItem& item) {
    // An archive is in place by what it lands, never by a copy of itself lying about.
    if (IsArchiveAddress(item.address))
        return !item.landing.empty() &&
               std::all_of(item.landing.begin(), item.landing.end(),
                           [&](const LandingFile& file) { return FileHolds(fs, file.path, file.digest); });
    return item.expected && FileHolds(fs, item.target, *item.expected);
}

std::vector<LandingFile> ArchiveLanding(const ReleaseManifest& manifest, const std::string& name,
                                        const std::string& installDir) {
    std::vector<LandingFile> landing;
    for (const ManifestFile& file : manifest.files) {
        if (!file.fromArchive || std::find(file.sources.begin(), file.sources.end(), name) == file.sources.end())
            continue;
        if (!file.hasDigest) return {};
        landing.push_back({installDir + file.name, file.digest});
    }
    return landing;
}

FetchQueue::FetchQueue(FetchQueueSetup setup) : setup_(std::move(setup)), slots_(setup_.items.size()) {
    size_t fetchable = 0;
    for (size_t i = 0; i < setup_.items.size(); ++i) {
        targetKeys_.push_back(TargetComparisonKey(setup_.items[i].target));
        if (setup_.items[i].fetch) {
            ++fetchable;
        } else {
            slots_[i].phase = Phase::Ready;
        }
    }
    const size_t threads = std::min(fetchable, static_cast<size_t>(std::max(1, setup_.connections)));
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { FetchThread(); });
}

FetchQueue::~FetchQueue() { Stop(); }

bool FetchQueue::TargetBusy(size_t index) const {
    for (size_t earlier = committed_; earlier < index; ++earlier)
        if (targetKeys_[earlier] == targetKeys_[index]) return true;
    return false;
}

bool FetchQueue::TakeNext(size_t& index) {
    // One connection fetches and commits strictly one item after the other, as a run always did.
    const size_t ahead = setup_.connections <= 1
                             ? 1
                             : static_cast<size_t>(setup_.connections) * static_cast<size_t>(kItemsAheadPerConnection);
    const size_t end = std::min(slots_.size(), committed_ + ahead);
    for (size_t i = committed_; i < end; ++i) {
        if (slots_[i].phase == Phase::Waiting && !TargetBusy(i)) {
            index = i;
            return true;
        }
    }
    return false;
}

bool FetchQueue::AnyWaiting() const {
    return std::any_of(slots_.begin() + static_cast<std::ptrdiff_t>(std::min(committed_, slots_.size())), slots_.end(),
                       [](const Slot& slot) { return slot.phase == Phase::Waiting; });
}

void FetchQueue::FetchThread() {
    for (;;) {
        size_t index = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            bool taken = false;
            work_.wait(lock, [&] { return stopping_ || (taken = TakeNext(index)) || !AnyWaiting(); });
            if (!taken) return;
            slots_[index].phase = Phase::Fetching;
        }
        ReadyItem ready = Fetch(index);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slots_[index].ready = std::move(ready);
            slots_[index].phase = Phase::Ready;
        }
        progress_.notify_all();
        work_.notify_all();  // a target this item held may be free for another
    }
}

ReadyItem FetchQueue::Fetch(size_t index) {
    const QueuedItem& item = setup_.items[index];
    FileSystem& fs = *setup_.fs;
    ReadyItem ready;
    // Never fetched twice: bytes already in place (an earlier run that broke later, a repair) stay.
    if (AlreadyInPlace(fs, item)) {
        DiscardPartial(fs, item.target);
        ready.state = ItemReady::AlreadyRight;
        ready.result.status = DownloadStatus::Complete;
        ready.result.requested = false;
        return ready;
    }
    if (FetchByDelta(index, ready)) return ready;
    ready.result = FetchItem(Request(index));
    ready.state = ReadyState(ready.result.status);
    if (ready.state == ItemReady::Fetched && item.deltas) DiscardDeltaDownload(fs, item.target);
    return ready;
}

bool FetchQueue::FetchByDelta(size_t index, ReadyItem& ready) {
    const QueuedItem& item = setup_.items[index];
    // Only what rebuilds exactly the bytes this item must have.
    if (!item.deltas || !item.expected || !SameContent(item.deltas->newest, *item.expected)) return false;
    DeltaItemRequest request;
    request.session = setup_.session;
    request.fs = setup_.fs;
    request.name = item.name;
    request.patchBaseUrl = setup_.patchBaseUrl;
    request.target = item.target;
    request.offer = item.deltas;
    request.runFlag = &fetching_;
    request.onChunk = [this, index](long long received) { OnChunk(index, received); };
    const long long wholeSize = static_cast<long long>(item.expected->size);
    // A delta from the player's copy first, else the file compressed whole, else the plain item.
    for (const bool delta : {true, false}) {
        request.onStarted = [this, index, wholeSize, delta](long long resumedFrom, long long total) {
            OnStarted(index, {resumedFrom, total, wholeSize, delta});
        };
        const DeltaItemResult result = delta ? BringByDelta(request) : BringCompressedWhole(request);
        switch (result.status) {
            case DeltaItemStatus::Ready:
                ready.state = ItemReady::Fetched;
                ready.result.status = DownloadStatus::Complete;
                ready.result.received = result.received;
                return true;
            case DeltaItemStatus::Stopped:
                ready.state = ItemReady::Stopped;
                ready.result.status = DownloadStatus::Stopped;
                return true;
            case DeltaItemStatus::Failed:
                // The next way comes in the same run.
                if (!ready.deltaFailure.empty()) ready.deltaFailure += "; ";
                ready.deltaFailure += result.reason;
                DiscardDeltaDownload(*setup_.fs, item.target);
                break;
            case DeltaItemStatus::NotApplicable: break;
        }
    }
    return false;
}

FetchItemRequest FetchQueue::Request(size_t index) {
    const QueuedItem& item = setup_.items[index];
    FetchItemRequest request;
    request.session = setup_.session;
    request.fs = setup_.fs;
    request.name = item.name;
    request.address = item.address;
    request.target = item.target;
    request.runFlag = &fetching_;
    request.expected = item.expected ? &*item.expected : nullptr;
    request.end = DownloadEnd::KeepTemporary;
    request.onStarted = [this, index](long long resumedFrom, long long total) { OnStarted(index, {resumedFrom, total}); };
    request.onChunk = [this, index](long long received) { OnChunk(index, received); };
    return request;
}

void FetchQueue::OnStarted(size_t index, const TransferStart& start) {
    bool told = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& slot = slots_[index];
        slot.started = true;
        slot.start = start;
        slot.received = slot.counted = start.resumedFrom;
        slot.untold.clear();  // a whole file after a delta starts its count again
        if (index == head_) told = slot.startUntold = true;
    }
    if (told) progress_.notify_all();
}

void FetchQueue::OnChunk(size_t index, long long received) {
    bool told = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& slot = slots_[index];
        if (setup_.bytesThisRun) *setup_.bytesThisRun += received - slot.counted;
        slot.counted = slot.received = received;
        ++slot.chunks;
        if (index == head_) {
            slot.untold.push_back(received);
            told = true;
        }
    }
    if (told) progress_.notify_all();
}

ReadyItem FetchQueue::WaitFor(size_t index, const HeadProgress& progress) {
    std::unique_lock<std::mutex> lock(mutex_);
    head_ = index;
    Slot& slot = slots_[index];
    // What it did before the list reached it is told at once, in short.
    if (slot.started) {
        slot.startUntold = true;
        if (slot.chunks > 0) slot.untold.assign(1, slot.received);
    }
    for (;;) {
        const bool start = std::exchange(slot.startUntold, false);
        std::vector<long long> untold = std::move(slot.untold);
        slot.untold.clear();
        if (start || !untold.empty()) {
            const TransferStart begun = slot.start;
            lock.unlock();  // never across a front-end call
            if (start && progress.started) progress.started(begun);
            if (progress.bytes)
                for (long long received : untold) progress.bytes(received);
            lock.lock();
            continue;
        }
        if (slot.phase == Phase::Ready) return slot.ready;
        progress_.wait_for(lock, kStopPollInterval);
        if (setup_.runFlag && !setup_.runFlag->load()) fetching_ = false;
    }
}

ReadyItem FetchQueue::FetchNow(size_t index, const HeadProgress& progress) {
    FetchItemRequest request = Request(index);
    request.runFlag = setup_.runFlag;
    long long counted = 0;
    request.onStarted = [&](long long resumedFrom, long long total) {
        counted = resumedFrom;
        if (progress.started) progress.started({resumedFrom, total});
    };
    request.onChunk = [&](long long received) {
        if (setup_.bytesThisRun) *setup_.bytesThisRun += received - counted;
        counted = received;
        if (progress.bytes) progress.bytes(received);
    };
    ReadyItem ready;
    ready.result = FetchItem(request);
    ready.state = ReadyState(ready.result.status);
    return ready;
}

void FetchQueue::Committed(size_t index) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        committed_ = std::max(committed_, index + 1);
    }
    work_.notify_all();
}

void FetchQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ && threads_.empty()) return;
        stopping_ = true;
    }
    fetching_ = false;
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    for (size_t i = committed_; i < slots_.size(); ++i) {
        const Slot& slot = slots_[i];
        if (slot.phase == Phase::Ready && slot.ready.state == ItemReady::Fetched)
            KeepFetchedForLater(*setup_.fs, setup_.items[i].address, setup_.items[i].target, slot.ready.result);
    }
}

}  // namespace qr
