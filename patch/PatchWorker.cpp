#include "patch/PatchWorker.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "archive/ArchiveExtraction.h"
#include "patch/DeltaItem.h"
#include "patch/Download.h"
#include "patch/Fetch.h"
#include "patch/FetchQueue.h"
#include "patch/InstallVerify.h"
#include "patch/InstallState.h"
#include "patch/PartialDownload.h"
#include "patch/SettingsStore.h"
#include "patch/TransferLimits.h"
#include "platform/DebugTrace.h"
#include "platform/FileError.h"
#include "platform/FlushingFileSystem.h"
#include "release/PatchListFile.h"
#include "release/ReleaseAcceptance.h"
#include "release/ReleaseDescription.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

// Raised for the failures that end a run at once (a file that cannot be written or replaced).
struct PatchAbort : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the description offers to bring the item, or each file of an archive, without the whole.
void AttachOffers(QueuedItem& item, const std::map<std::string, NameDeltas>& deltas) {
    const auto find = [&](const std::string& name) -> const NameDeltas* {
        const auto offer = deltas.find(name);
        return offer == deltas.end() ? nullptr : &offer->second;
    };
    if (!IsArchiveAddress(item.address)) {
        item.deltas = find(item.name);
        return;
    }
    for (LandingFile& file : item.landing) file.deltas = find(file.name);
}

// The front-end is busy from the first event to the last, whichever way the run ends.
class BusyScope {
public:
    explicit BusyScope(PatchEvents& events) : events_(events) { events_.BusyChanged(true); }
    ~BusyScope() { events_.BusyChanged(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    PatchEvents& events_;
};

class Run {
public:
    explicit Run(PatchWorkerContext& context)
        : control_(*context.control), events_(*context.events), settings_(*context.settings),
          fs_(*context.fileSystem), context_(context) {}

    void Execute() {
        BusyScope busy(events_);
        session_ = context_.openSession ? context_.openSession(kHttpAgent) : nullptr;
        if (!session_) {
            events_.Finished(PatchOutcome::NoConnection, "the internet layer could not be opened");
            return;
        }
        control_.verifiedGameDigest.Set({});  // only this run's verified description may name it
        events_.StatusChanged(kTextFetchingInfo);
        try {
            std::string reason;
            if (!FetchPatchDescription(reason)) {
                FailUnreachableDescription("the patch description could not be fetched: " + reason);
                return;
            }
            // Read once: the signature check and every lookup are over these bytes, never the file
            // again (it could change on the disk meanwhile).
            if (!ReadWholeFile(PatchInfoPath(), kMaxDescriptionBytes, descriptionText_)) descriptionText_.clear();
            description_ = DescriptionText::Parse(descriptionText_);
            if (!context_.releaseKeyPem.empty() && !SignedDescriptionAccepted(reason)) {
                // Unsigned or refused: treated like a description that never arrived, and not kept.
                RemovePatchInfo();
                FailUnreachableDescription("the patch description was refused: " + reason);
                return;
            }
            const PatchInfoLookup lookup = DescriptionLookup();
            remoteVersion_ = lookup("VERSION", "version");
            events_.ServedVersionKnown(remoteVersion_);
            if (context_.installedVersion == remoteVersion_)
                AlreadyUpToDate();
            else
                PatchVersions(lookup);
        } catch (const std::exception& e) {
            FailWithException(e.what());
        } catch (...) {
            FailWithException("unexpected failure");
        }
    }

private:
    bool running() const { return control_.workerRunning.load(); }

    // The install directory as the settings name it now, else as the run began.
    const std::string& InstallDir() {
        if (auto dir = ConfiguredInstallDir(settings_)) context_.installDir = *dir;
        return context_.installDir;
    }

    std::string PatchInfoPath() { return InstallDir() + kPatchInfoFileName; }

    void RemovePatchInfo() { fs_.Remove(context_.installDir + kPatchInfoFileName); }

    // The patch description only replaces the previous copy when a success status brought it whole.
    bool FetchPatchDescription(std::string& reason) {
        ReadPatchListValue(context_.patchListPath, kPatchInfoUrlLine, patchInfoUrl_);
        if (patchInfoUrl_.empty()) {
            reason = "the patch list names no address";
            return false;
        }
        auto response = session_->Send(patchInfoUrl_, SmallDocumentRequest(kMaxDescriptionBytes));
        if (!response || !running()) {
            reason = response ? "stopped" : "the server could not be reached";
            return false;
        }
        if (!IsSuccessStatus(response->StatusCode())) {
            reason = "the server answered " + std::to_string(response->StatusCode());
            return false;
        }
        const std::string target = PatchInfoPath();
        FlushingFileSystem flushed(fs_);  // on the disk before it replaces the previous copy
        DownloadResult result =
            DownloadToFile(*response, flushed, target, AnnouncedLength(*response), &control_.workerRunning, nullptr);
        if (result.status == DownloadStatus::WriteFailed || result.status == DownloadStatus::ReplaceFailed)
            throw PatchAbort(target + ": the file could not be written (" + DescribeFileError(result.error) + ")");
        if (result.status != DownloadStatus::Complete) reason = "the transfer broke";
        return result.status == DownloadStatus::Complete;
    }

    // The signature is fetched from the description's own address and checked over the bytes the
    // run reads the description from.
    bool SignedDescriptionAccepted(std::string& reason) {
        const auto signature = FetchSmallBody({session_.get(), patchInfoUrl_ + kSignatureSuffix, kMaxSignatureBytes,
                                               &control_.workerRunning});
        if (!signature) {
            reason = "its signature could not be fetched";
            return false;
        }
        if (descriptionText_.empty()) {
            reason = "it could not be read back";
            return false;
        }
        const DescriptionAcceptance acceptance = AcceptDescription(descriptionText_, *signature, context_.releaseKeyPem,
                                                                   context_.installedVersion, TodayUtc());
        reason = acceptance.reason;
        if (!acceptance.accepted()) return false;
        control_.verifiedGameDigest.Set(VerifiedGameDigest(BuildReleaseManifest(description_)));
        return true;
    }

    // What the verified description says the game program is, as a digest line; empty without one.
    static std::string VerifiedGameDigest(const ReleaseManifest& manifest) {
        for (const ManifestFile& file : manifest.files)
            if (file.name == kGameFileName && file.hasDigest) return FormatDigestLine(file.digest);
        return {};
    }

    // Lookups by the profile rules over the bytes read once (thousands of profile calls, each reading
    // the whole file again, took seconds for a large release), values cut as the profile store cuts them.
    PatchInfoLookup DescriptionLookup() const {
        return [this](const std::string& section, const std::string& key) {
            std::string value = description_(section, key);
            if (value.size() >= kProfileValueBufferSize) value.resize(kProfileValueBufferSize - 1);
            return value;
        };
    }

    bool ReadWholeFile(const std::string& path, uint64_t limit, std::string& bytes) {
        auto file = fs_.OpenRead(path);
        if (!file || file->Size() > limit) return false;
        bytes.resize(static_cast<size_t>(file->Size()));
        size_t done = 0;
        while (done < bytes.size()) {
            const size_t got = file->ReadAt(done, &bytes[done], bytes.size() - done);
            if (got == 0) return false;
            done += got;
        }
        return true;
    }

    void FailUnreachableDescription(const std::string& reason) {
        DebugTrace((reason + "\n").c_str());
        session_.reset();
        events_.Finished(PatchOutcome::DescriptionUnavailable, reason);
    }

    void AlreadyUpToDate() {
        RemovePatchInfo();
        RemoveStalePartialDownloads({});
        SettingsStore versionStore(settings_);
        versionStore.SetFile(kVersionFileName);
        versionStore.WriteString("VERSION", "version", remoteVersion_);
        session_.reset();
        events_.Finished(PatchOutcome::Succeeded, {});
    }

    void PatchVersions(const PatchInfoLookup& lookup) {
        // The digest lines come with the list, read before the description goes.
        DownloadListResult list = BuildDownloadList(context_.installedVersion, remoteVersion_, lookup);
        const ReleaseManifest manifest = BuildReleaseManifest(description_);
        const std::map<std::string, NameDeltas> deltas = ReadDeltaCatalog(description_, manifest);
        const int connections = ConnectionsForRun(context_.connections, lookup("VERSION", "connections"));
        RemovePatchInfo();
        if (list.remoteVersionMissing) {
            // A description without a version cannot be recorded: nothing is fetched.
            FailUnreachableDescription("the patch description names no version");
            return;
        }
        const int count = static_cast<int>(list.names.size());
        events_.FilesPlanned(count);
        // Directories and archives are relative to the current directory, which must be the install
        // directory from the first file on.
        ChangeToInstallDir();

        // An item naming a directory brings no file: the version cannot be recorded as complete.
        for (const std::string& item : list.unwritable) FileFailed(item, "refused: it names a directory, not a file");
        FetchQueueSetup setup;
        setup.session = session_.get();
        setup.fs = &fs_;
        setup.connections = connections;
        setup.runFlag = &control_.workerRunning;
        setup.bytesThisRun = &control_.bytesThisRun;
        setup.patchBaseUrl = PatchBaseUrl();
        std::vector<std::string> refusals(list.names.size());
        for (size_t i = 0; i < list.names.size(); ++i) {
            setup.items.push_back(PlanItem(list.names[i], list.digests[i], manifest, setup.patchBaseUrl, refusals[i]));
            AttachOffers(setup.items.back(), deltas);
        }
        RemoveStalePartialDownloads(list.names, setup.items);
        FetchQueue queue(std::move(setup));
        for (int i = 0; i < count && running(); ++i) {
            const std::string& name = list.names[static_cast<size_t>(i)];
            if (!refusals[static_cast<size_t>(i)].empty()) {
                // Decided by the description alone, before anything was fetched: the others still come.
                FileFailed(name, refusals[static_cast<size_t>(i)]);
                queue.Committed(static_cast<size_t>(i));
                continue;
            }
            // The first item that cannot be fetched, checked or unpacked ends the run: nothing after
            // it is committed.
            if (!CommitInTurn(queue, i, count)) break;
        }
        queue.Stop();
        // The one durable barrier: every file the new version promises is on the disk before the
        // version says so. A power cut earlier leaves the old version, and the next run fetches again.
        if (running() && failures_ == 0 && !fs_.MakeDurable(InstallDir()))
            FileFailed(InstallDir(), "the written files could not be made durable");
        if (running() && failures_ == 0) {
            SettingsStore versionStore(settings_);
            versionStore.SetFile(kVersionFileName);
            if (!versionStore.WriteString("VERSION", "version", remoteVersion_))
                FileFailed(kVersionFileName, "the new version could not be recorded");
        }
        session_.reset();
        Finish();
        control_.workerRunning = false;
    }

    // The patch list's base address, under which items, deltas and compressed files are served.
    std::string PatchBaseUrl() const {
        std::string base;
        ReadPatchListValue(context_.patchListPath, kPatchBaseUrlLine, base);
        return base;
    }

    // An item as the queue fetches it; `refusal` says why it is never turned into a path.
    QueuedItem PlanItem(const std::string& name, const ItemDigest& digest, const ReleaseManifest& manifest,
                        const std::string& patchBaseUrl, std::string& refusal) {
        QueuedItem item;
        item.name = name;
        if (!IsAcceptedGameFile(name)) {
            // Never turned into a path: it could reach outside the install directory or meet the
            // launcher's own files.
            refusal = "refused: " + GameFileRefusal(name);
        } else if (digest.state == DigestLineState::Malformed) {
            // A line that is there is always held to, and one that cannot be read describes nothing
            // the bytes could match.
            refusal = "refused: its digest line cannot be read";
        } else if (digest.state != DigestLineState::Present && !context_.releaseKeyPem.empty()) {
            refusal = "refused: no digest line describes it";  // a key demands a line for every item
        }
        item.fetch = refusal.empty();
        if (!item.fetch) return item;
        item.address = ServerAddress(patchBaseUrl, name);
        item.target = LocalTargetPath(context_.installDir, name);
        if (digest.state == DigestLineState::Present) item.expected = digest.digest;
        if (!IsArchiveAddress(item.address)) return item;
        const auto entries = manifest.archiveEntries.find(name);
        if (entries == manifest.archiveEntries.end()) return item;
        for (const std::string& entry : entries->second) item.unpacks.push_back(context_.installDir + entry);
        if (auto landing = ArchiveLanding(manifest, name, context_.installDir)) {
            item.landing = std::move(*landing);
            item.landingKnown = true;
        }
        return item;
    }

    // Waits for item i, then commits it: its temporary over the target, or the archive unpacked.
    // False when the run cannot go on past it. A file that cannot be written ends the run at once.
    bool CommitInTurn(FetchQueue& queue, int i, int count) {
        const QueuedItem& item = queue.item(static_cast<size_t>(i));
        long long total = -1;
        HeadProgress progress;
        progress.started = [&](const TransferStart& start) {
            total = start.total;
            events_.FileStarted({i + 1, count, start.name.empty() ? item.name : start.name, start.resumedFrom,
                                 start.total, start.wholeSize, start.delta});
        };
        progress.bytes = [&](long long received) { events_.BytesReceived(received, total); };
        ReadyItem ready = queue.WaitFor(static_cast<size_t>(i), progress);
        if (!ready.deltaFailure.empty())
            DebugTrace((item.name + ": fetched another way, " + ready.deltaFailure + "\n").c_str());
        // An earlier item of this run may have written over what was right when it was looked at.
        if (ready.state == ItemReady::AlreadyRight && MayHaveChanged(item) && !AlreadyInPlace(fs_, item))
            ready = queue.FetchNow(static_cast<size_t>(i), progress);
        if (!ready.landed.empty() && MayHaveChanged(item) && !LandingStillHeld(item, ready)) {
            // An earlier item of this run wrote over a file of the archive that was in place: the archive comes.
            DiscardLanded(fs_, ready);
            ready = queue.FetchNow(static_cast<size_t>(i), progress);
        }
        if (ready.result.CannotWrite()) throw PatchAbort(item.name + ": " + ready.result.reason);
        if (ready.state == ItemReady::Stopped || !running()) return false;
        if (ready.state == ItemReady::Failed) {
            FileFailed(item.name, ready.result.reason);
            if (running()) events_.FileFinished(i + 1);
            return false;
        }
        if (ready.state == ItemReady::Fetched && !ready.landed.empty()) {
            CommitLanded(item, ready);
        } else if (ready.state == ItemReady::Fetched) {
            const FetchResult committed = CommitFetched(fs_, item.target);
            if (committed.CannotWrite()) throw PatchAbort(item.name + ": " + committed.reason);
            NoteWritten(item);
            if (IsArchiveAddress(item.address) && !Unpack(item.name, context_.installDir)) return false;
        }
        queue.Committed(static_cast<size_t>(i));
        ChangeToInstallDir();
        if (running()) events_.FileFinished(i + 1);
        return running();
    }

    // The files of an archive that came alone, over their targets where the archive stands.
    void CommitLanded(const QueuedItem& item, const ReadyItem& ready) {
        for (const std::string& target : ready.landed) {
            const FetchResult committed = CommitFetched(fs_, target);
            if (committed.CannotWrite()) throw PatchAbort(item.name + ": " + committed.reason);
            written_.insert(TargetComparisonKey(target));
        }
    }

    // Every file of the archive that did not come alone still holds what the archive would land.
    bool LandingStillHeld(const QueuedItem& item, const ReadyItem& ready) {
        std::set<std::string> landed;
        for (const std::string& target : ready.landed) landed.insert(TargetComparisonKey(target));
        return std::all_of(item.landing.begin(), item.landing.end(), [&](const LandingFile& file) {
            return landed.count(TargetComparisonKey(file.path)) > 0 || FileHolds(fs_, file.path, file.digest);
        });
    }

    // What this run has written over so far: names in the comparison form, or anything at all once
    // an archive was unpacked.
    void NoteWritten(const QueuedItem& item) {
        if (IsArchiveAddress(item.address))
            archiveUnpacked_ = true;
        else
            written_.insert(TargetComparisonKey(item.target));
    }
    bool MayHaveChanged(const QueuedItem& item) const {
        return archiveUnpacked_ || written_.count(TargetComparisonKey(item.target)) > 0 ||
               std::any_of(item.landing.begin(), item.landing.end(),
                           [&](const LandingFile& file) { return written_.count(TargetComparisonKey(file.path)) > 0; });
    }

    void Finish() {
        if (!running()) {
            events_.Finished(PatchOutcome::Stopped, "stopped");
        } else if (failures_ == 0) {
            events_.Finished(PatchOutcome::Succeeded, {});
        } else {
            std::string reason = firstFailure_;
            if (failures_ > 1) reason += " (and " + std::to_string(failures_ - 1) + " more)";
            events_.Finished(PatchOutcome::Failed, reason);
        }
    }

    void FileFailed(const std::string& name, const std::string& reason) {
        const std::string line = name + ": " + reason;
        DebugTrace((line + "\n").c_str());
        if (failures_++ == 0) firstFailure_ = line;
        events_.FileFailed(name, reason);
    }

    // Partial downloads of addresses this run does not fetch (items, their deltas, the deltas of the
    // files their archives land), or older than a week, are of no more use.
    void RemoveStalePartialDownloads(const std::vector<std::string>& names, const std::vector<QueuedItem>& items = {}) {
        const std::string base = PatchBaseUrl();
        std::set<std::string> addresses;
        for (const std::string& name : names)
            if (IsAcceptedGameFile(name)) addresses.insert(ServerAddress(base, name));
        const auto offered = [&](const NameDeltas* offer) {
            if (!offer) return;
            for (const std::string& address : OfferedAddresses(base, *offer)) addresses.insert(address);
        };
        for (const QueuedItem& item : items) {
            offered(item.deltas);
            for (const LandingFile& file : item.landing) offered(file.deltas);
        }
        const std::string& dir = context_.installDir;
        RemoveStalePartials(fs_, dir.empty() ? "." : dir, addresses, CurrentUnixTime());
    }

    // The archive is read where it was downloaded (for a top-level archive that is its base name in
    // the install directory) and unpacked into the install directory.
    bool Unpack(const std::string& name, const std::string& installDir) {
        if (!installDir.empty()) fs_.ChangeDirectory(installDir);
        events_.ExtractStarted(name);
        ExtractOutcome outcome = ExtractArchive(name, LauncherExtractNaming(), &control_.workerRunning,
                                                &control_.extractDone, &control_.extractTotal, fs_);
        control_.extractTotal = 0;
        fs_.Remove(name);
        events_.ExtractFinished();
        if (outcome.status == ExtractStatus::Failed) FileFailed(name, outcome.reason);
        return outcome.status != ExtractStatus::Failed;
    }

    void ChangeToInstallDir() {
        if (!context_.installDir.empty()) fs_.ChangeDirectory(context_.installDir);
    }

    void FailWithException(const std::string& what) {
        try {
            RemovePatchInfo();
        } catch (...) {
        }
        DebugTrace((what + "\n").c_str());
        session_.reset();
        events_.Finished(running() ? PatchOutcome::Failed : PatchOutcome::Stopped, what);
        control_.workerRunning = false;
    }

    PatchRunControl& control_;
    PatchEvents& events_;
    SettingsPlatform& settings_;
    FileSystem& fs_;
    PatchWorkerContext& context_;
    std::unique_ptr<HttpSession> session_;
    std::string remoteVersion_;
    std::string descriptionText_;  // the description as fetched (and, with a key, checked)
    DescriptionText description_;
    std::set<std::string> written_;  // targets this run replaced, in comparison form
    bool archiveUnpacked_ = false;
    std::string patchInfoUrl_;
    int failures_ = 0;
    std::string firstFailure_;
};

}  // namespace

std::string ReceivingStatusText(const std::string& name) {
    char status[1200];
    std::snprintf(status, sizeof status, kTextReceivingFormat, name.c_str());
    return status;
}

int PatchWorker(PatchWorkerContext context) {
    // The context's shared pointers keep the control, the front-end and the settings alive for the
    // whole run, also when the window is gone before the worker ends.
    try {
        Run(context).Execute();
    } catch (...) {
        // Nothing may escape the thread's entry.
    }
    return 1;
}

}  // namespace qr
