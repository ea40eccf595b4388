// The items of a patch run fetched over several connections at once, into temporaries beside their
// targets, ahead of the thread that commits them strictly in list order. Only that thread tells the
// front-end anything: the fetch threads report into the queue, and WaitFor hands on the progress of
// the item the list waits for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "patch/DeltaItem.h"
#include "patch/Fetch.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"
#include "release/DeltaDescription.h"
#include "release/ReleaseDescription.h"

namespace qr {

// A file an archive lands, with the digest its version describes.
struct LandingFile {
    std::string path;
    FileDigest digest;
    std::string name;  // as the description names it, relative to the install directory
    // What the description offers to bring this one file without its archive; null: none.
    const NameDeltas* deltas = nullptr;
};

struct QueuedItem {
    std::string name;  // the list name
    std::string address;
    std::string target;
    std::optional<FileDigest> expected;  // its digest line
    // For an archive: every file it lands (none when later items bring them all), when all are
    // described; landingKnown is false otherwise.
    std::vector<LandingFile> landing;
    bool landingKnown = false;
    // For an archive: every file it unpacks as far as described, also those later items bring again.
    // No other item touches them while it is fetched.
    std::vector<std::string> unpacks;
    bool fetch = true;  // false: refused before the run; never asked for
    // What the description offers to rebuild it from the player's copy; null: none.
    const NameDeltas* deltas = nullptr;
};

enum class ItemReady {
    AlreadyRight,  // the install holds exactly what the item brings; nothing was asked for
    Fetched,       // the checked bytes wait in the target's temporary
    Failed,
    Stopped,
    NotFetched,    // a refused item
};

struct ReadyItem {
    ItemReady state = ItemReady::NotFetched;
    FetchResult result;
    std::string deltaFailure;  // why a delta or compressed file was given up; empty when none was
    // For an archive brought file by file instead: the targets whose temporaries hold them, in the
    // order they land. Empty when the archive itself was fetched.
    std::vector<std::string> landed;
};

// How an item's transfer began: the bytes of a delta, of the file compressed, or of the file itself.
struct TransferStart {
    long long resumedFrom = 0;
    long long total = -1;
    long long wholeSize = -1;  // for a delta or a compressed file: the size of the file it makes
    bool delta = false;        // a delta from the player's copy, else the file compressed whole
    std::string name{};        // a file of an archive that comes alone; empty: the item itself
};

// Progress of the item the list waits for, told on the committing thread.
struct HeadProgress {
    std::function<void(const TransferStart& start)> started;
    std::function<void(long long received)> bytes;
};

struct FetchQueueSetup {
    HttpSession* session = nullptr;
    FileSystem* fs = nullptr;
    std::vector<QueuedItem> items;
    int connections = 1;
    const std::atomic<bool>* runFlag = nullptr;   // cleared by the front-end to stop the run
    std::atomic<long long>* bytesThisRun = nullptr;  // every connection's new bytes, for the rate
    std::string patchBaseUrl;  // deltas are served below it
};

// A target as the file system compares it (any case on Windows, either separator), for telling
// when two list names reach one file.
std::string TargetComparisonKey(const std::string& target);

// What the archive item `name` lands in `installDir`, each file with its described digest: the
// manifest's files it is the last to bring (none when later items bring them all). Nothing when
// that is not known for every file.
std::optional<std::vector<LandingFile>> ArchiveLanding(const ReleaseManifest& manifest, const std::string& name,
                                                       const std::string& installDir);

// The install already holds exactly what the item brings: a plain item's target is its described
// bytes, or every file an archive lands is. Such an item is never fetched again.
bool AlreadyInPlace(FileSystem& fs, const QueuedItem& item);
// The files of an archive brought one by one (ReadyItem::landed) that will not be committed: removed.
void DiscardLanded(FileSystem& fs, const ReadyItem& ready);

class FetchQueue {
public:
    explicit FetchQueue(FetchQueueSetup setup);
    ~FetchQueue();
    FetchQueue(const FetchQueue&) = delete;
    FetchQueue& operator=(const FetchQueue&) = delete;

    const QueuedItem& item(size_t index) const { return setup_.items[index]; }

    // Blocks until item `index` is ready, telling its progress meanwhile. Items are waited for in order.
    ReadyItem WaitFor(size_t index, const HeadProgress& progress);
    // Fetches item `index` again on the calling thread (an item that was right is no longer).
    ReadyItem FetchNow(size_t index, const HeadProgress& progress);
    // Item `index` is committed: the items after it may go ahead.
    void Committed(size_t index);
    // Ends every transfer: those in flight keep their partial files for the next run, and fetched
    // items not committed are kept for it too. Waits for the fetch threads.
    void Stop();

private:
    enum class Phase { Waiting, Fetching, Ready };
    struct Slot {
        Phase phase = Phase::Waiting;
        bool started = false;
        long long received = 0, counted = 0;
        int chunks = 0;
        std::vector<long long> untold;  // chunks of the waited-for item not yet told
        // Starts not yet told: each as it came for the waited-for item; before the list reaches
        // it, the last one per file (the files of an archive that come alone each have theirs).
        std::vector<TransferStart> untoldStarts;
        ReadyItem ready;
    };

    void FetchThread();
    bool TakeNext(size_t& index);  // the caller holds mutex_
    bool AnyWaiting() const;       // the caller holds mutex_
    ReadyItem Fetch(size_t index);
    // Rebuilds the item from the player's copy when a delta fits it; false when the whole file must come.
    bool FetchByDelta(size_t index, ReadyItem& ready);
    // Brings every file an archive lands that is not in place by delta or compressed whole, instead of
    // the archive; false when one cannot come that way (the archive itself must then come).
    bool FetchLandingAlone(size_t index, ReadyItem& ready);
    // A delta from the local copy, else the compressed whole, into the target's temporary: Ready,
    // Stopped, or NotApplicable when neither brought it (why in ready.deltaFailure).
    DeltaItemStatus Rebuild(size_t index, DeltaItemRequest& request, const std::string& shownName, ReadyItem& ready);
    FetchItemRequest Request(size_t index);
    void OnStarted(size_t index, const TransferStart& start);
    void OnChunk(size_t index, long long received);
    bool TargetBusy(size_t index) const;  // the caller holds mutex_

    FetchQueueSetup setup_;
    std::atomic<bool> fetching_{true};  // false once the run stops or the queue ends
    std::mutex mutex_;
    std::condition_variable work_;      // fetch threads: an item may be taken, or the queue ends
    std::condition_variable progress_;  // the committer: its item moved on
    std::vector<Slot> slots_;
    // Per item: its target and every file it lands or unpacks, as the file system compares them.
    std::vector<std::set<std::string>> targetKeys_;
    size_t head_ = 0;       // the item the committer waits for
    size_t committed_ = 0;  // items before this one are committed
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qr
