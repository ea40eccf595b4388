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

// Two key sets share a key; the smaller one is walked.
bool Overlap(const std::set<std::string>& a, const std::set<std::string>& b) {
    if (a.size() > b.size()) return Overlap(b, a);
    return std::any_of(a.begin(), a.end(), [&](const std::string& key) { return b.count(key) > 0; });
}

// A file an archive lands may come alone when its own line rebuilds exactly the bytes the archive
// would land, and it is a name the run may write.
bool MayComeAlone(const LandingFile& file) {
    return file.deltas && SameContent(file.deltas->newest, file.digest) &&
           (file.deltas->whole || !file.deltas->deltas.empty()) && IsAcceptedGameFile(file.name);
}

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
        return item.landingKnown &&
               std::all_of(item.landing.begin(), item.landing.end(),
                           [&](const LandingFile& file) { return FileHolds(fs, file.path, file.digest); });
    return item.expected && FileHolds(fs, item.target, *item.expected);
}

std::optional<std::vector<LandingFile>> ArchiveLanding(const ReleaseManifest& manifest, const std::string& name,
                                                       const std::string& installDir) {
    if (!manifest.archiveEntries.count(name)) return std::nullopt;
    std::vector<LandingFile> landing;
    for (const ManifestFile& file : manifest.files) {
        if (!file.fromArchive || std::find(file.sources.begin(), file.sources.end(), name) == file.sources.end())
            continue;
        if (!file.hasDigest) return std::nullopt;
        landing.push_back({installDir + file.name, file.digest, file.name});
    }
    return landing;
}

void DiscardLanded(FileSystem& fs, const ReadyItem& ready) {
    for (const std::string& target : ready.landed) fs.Remove(target + kTempSuffix);
}

FetchQueue::FetchQueue(FetchQueueSetup setup) : setup_(std::move(setup)), slots_(setup_.items.size()) {
    size_t fetchable = 0;
    for (size_t i = 0; i < setup_.items.size(); ++i) {
        std::set<std::string> keys{TargetComparisonKey(setup_.items[i].target)};
        for (const LandingFile& file : setup_.items[i].landing) keys.insert(TargetComparisonKey(file.path));
        for (const std::string& path : setup_.items[i].unpacks) keys.insert(TargetComparisonKey(path));
        targetKeys_.push_back(std::move(keys));
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
        if (Overlap(targetKeys_[earlier], targetKeys_[index])) return true;
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
    if (FetchByDelta(index, ready) || FetchLandingAlone(index, ready)) return ready;
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
    request.name = item.name;
    request.target = item.target;
    request.offer = item.deltas;
    switch (Rebuild(index, request, {}, ready)) {
        case DeltaItemStatus::Ready: ready.state = ItemReady::Fetched; break;
        case DeltaItemStatus::Stopped: ready.state = ItemReady::Stopped; break;
        default: return false;  // the plain item comes in the same run
    }
    ready.result.status = ready.state == ItemReady::Fetched ? DownloadStatus::Complete : DownloadStatus::Stopped;
    return true;
}

bool FetchQueue::FetchLandingAlone(size_t index, ReadyItem& ready) {
    const QueuedItem& item = setup_.items[index];
    if (!IsArchiveAddress(item.address) || !item.landingKnown) return false;
    FileSystem& fs = *setup_.fs;
    std::vector<const LandingFile*> missing;
    for (const LandingFile& file : item.landing) {
        if (FileHolds(fs, file.path, file.digest)) continue;
        if (!MayComeAlone(file)) return false;  // checked for every file before any is asked for
        missing.push_back(&file);
    }
    for (const LandingFile* file : missing) {
        DeltaItemRequest request;
        request.name = file->name;
        request.target = file->path;
        request.offer = file->deltas;
        const DeltaItemStatus status = Rebuild(index, request, file->name, ready);
        if (status == DeltaItemStatus::Ready) {
            ready.landed.push_back(file->path);
            continue;
        }
        // A stop keeps the partial download of this file for the next run; what was made is rebuilt then.
        DiscardLanded(fs, ready);
        ready.landed.clear();
        ready.result.received = 0;
        if (status != DeltaItemStatus::Stopped) return false;  // the archive comes in the same run
        ready.state = ItemReady::Stopped;
        ready.result.status = DownloadStatus::Stopped;
        return true;
    }
    ready.state = ItemReady::Fetched;
    ready.result.status = DownloadStatus::Complete;
    return true;
}

DeltaItemStatus FetchQueue::Rebuild(size_t index, DeltaItemRequest& request, const std::string& shownName,
                                    ReadyItem& ready) {
    request.session = setup_.session;
    request.fs = setup_.fs;
    request.patchBaseUrl = setup_.patchBaseUrl;
    request.runFlag = &fetching_;
    request.onChunk = [this, index](long long received) { OnChunk(index, received); };
    const long long wholeSize = static_cast<long long>(request.offer->newest.size);
    // A delta from the player's copy first, else the file compressed whole.
    for (const bool delta : {true, false}) {
        request.onStarted = [this, index, wholeSize, delta, shownName](long long resumedFrom, long long total) {
            OnStarted(index, {resumedFrom, total, wholeSize, delta, shownName});
        };
        const DeltaItemResult result = delta ? BringByDelta(request) : BringCompressedWhole(request);
        switch (result.status) {
            case DeltaItemStatus::Ready:
                ready.result.received += result.received;
                return DeltaItemStatus::Ready;
            case DeltaItemStatus::Stopped: return DeltaItemStatus::Stopped;
            case DeltaItemStatus::Failed:
                // The next way comes in the same run.
                if (!ready.deltaFailure.empty()) ready.deltaFailure += "; ";
                ready.deltaFailure += result.reason;
                DiscardDeltaDownload(*setup_.fs, request.target);
                break;
            case DeltaItemStatus::NotApplicable: break;
        }
    }
    return DeltaItemStatus::NotApplicable;
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
        slot.received = slot.counted = start.resumedFrom;
        slot.untold.clear();  // a whole file after a delta starts its count again
        told = index == head_;
        if (!told && !slot.untoldStarts.empty() && slot.untoldStarts.back().name == start.name)
            slot.untoldStarts.back() = start;
        else
            slot.untoldStarts.push_back(start);
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
    if (slot.started && slot.chunks > 0) slot.untold.assign(1, slot.received);
    for (;;) {
        std::vector<TransferStart> starts = std::move(slot.untoldStarts);
        slot.untoldStarts.clear();
        std::vector<long long> untold = std::move(slot.untold);
        slot.untold.clear();
        if (!starts.empty() || !untold.empty()) {
            lock.unlock();  // never across a front-end call
            if (progress.started)
                for (const TransferStart& begun : starts) progress.started(begun);
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
        if (slot.phase != Phase::Ready || slot.ready.state != ItemReady::Fetched) continue;
        if (!slot.ready.landed.empty())
            DiscardLanded(*setup_.fs, slot.ready);  // rebuilt from their deltas again next time
        else
            KeepFetchedForLater(*setup_.fs, setup_.items[i].address, setup_.items[i].target, slot.ready.result);
    }
}

}  // namespace qr
