#include "patch/PatchWorker.h"

#include <climits>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <vector>

#include "archive/ArchiveExtraction.h"
#include "common/Atoi.h"
#include "patch/ByteProgress.h"
#include "patch/Download.h"
#include "patch/InstallState.h"
#include "patch/PartialDownload.h"
#include "patch/SettingsStore.h"
#include "platform/FlushingFileSystem.h"
#include "platform/HttpText.h"
#include "release/PatchListFile.h"
#include "release/ReleaseAcceptance.h"
#include "release/ReleaseDescription.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

constexpr ClientRect kFileCounterArea{473, 63, 623, 75};
constexpr ClientRect kStatusLineArea{401, 88, 816, 100};
constexpr ClientRect kByteCounterArea{629, 63, 819, 75};

// Raised for the failures that end a run at once (a file that cannot be written or replaced).
struct PatchAbort : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool IsSuccessStatus(int status) { return status >= 200 && status <= 299; }

long long AnnouncedLength(const HttpResponse& response) {
    auto text = response.ContentLengthText();
    if (!text || text->empty()) return -1;
    // A plain length is read whole: through the 32-bit atoi one past 2 GiB would wrap.
    if (const std::optional<uint64_t> length = ParseContentLength(*text))
        return *length > static_cast<uint64_t>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(*length);
    return AtoiValue(*text);
}

class WaitCursor {
public:
    explicit WaitCursor(PatchUi& ui) : ui_(ui) { ui_.BeginWaitCursor(); }
    ~WaitCursor() { End(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void End() {
        if (active_) ui_.EndWaitCursor();
        active_ = false;
    }

private:
    PatchUi& ui_;
    bool active_ = true;
};

class Run {
public:
    explicit Run(PatchWorkerContext& context)
        : state_(*context.state), ui_(*context.ui), settings_(*context.settings), fs_(*context.fileSystem),
          openSession_(context.openSession), releaseKeyPem_(context.releaseKeyPem) {}

    void Execute() {
        WaitCursor cursor(ui_);
        session_ = openSession_ ? openSession_(kHttpAgent) : nullptr;
        if (!session_) {
            ui_.ShowMessage(kTextNoInternet);
            return;
        }
        state_.statusText.Set(kTextFetchingInfo);
        ui_.Invalidate(nullptr, false);
        state_.currentFile = kPatchInfoFileName;
        try {
            if (!FetchPatchDescription()) {
                FailUnreachableDescription();
                return;
            }
            SettingsStore store(settings_);
            store.SetFile(state_.currentFile);
            if (!releaseKeyPem_.empty() && !SignedDescriptionAccepted()) {
                // Unsigned or refused: treated like a description that never arrived, and not kept.
                RemovePatchInfo();
                FailUnreachableDescription();
                return;
            }
            remoteVersion_ = store.ReadString("VERSION", "version");
            if (state_.installedVersion == remoteVersion_)
                AlreadyUpToDate();
            else
                PatchVersions(store, cursor);
        } catch (...) {
            FailWithException();
        }
    }

private:
    bool running() const { return state_.workerRunning.load(); }

    std::string PatchInfoPath() { return ReadInstallDir(state_, settings_) + state_.currentFile; }

    void RemovePatchInfo() { fs_.Remove(state_.installDir.Get() + state_.currentFile); }

    void BothBarsFull() {
        state_.fileProgress->SetRange32(0, 1);
        state_.totalProgress->SetRange32(0, 1);
    }

    // The patch description only replaces the previous copy when a success status brought it whole.
    bool FetchPatchDescription() {
        std::string patchInfoUrl;
        ReadPatchListValue(state_.patchListPath, kPatchInfoUrlLine, patchInfoUrl);
        patchInfoUrl_ = patchInfoUrl;
        auto response = patchInfoUrl.empty() ? nullptr : session_->Open(patchInfoUrl);
        if (!response || !running()) return false;
        if (!IsSuccessStatus(response->StatusCode())) return false;
        const std::string target = PatchInfoPath();
        FlushingFileSystem flushed(fs_);  // on the disk before it replaces the previous copy
        DownloadResult result =
            DownloadToFile(*response, flushed, target, AnnouncedLength(*response), &state_.workerRunning, nullptr);
        if (result.status == DownloadStatus::WriteFailed || result.status == DownloadStatus::ReplaceFailed)
            throw PatchAbort("cannot write " + target);
        return result.status == DownloadStatus::Complete;
    }

    // The signature is fetched from the description's own address and checked over the exact bytes
    // on disk, which are the bytes the store reads.
    bool SignedDescriptionAccepted() {
        std::string signature;
        if (!FetchSmall(patchInfoUrl_ + kSignatureSuffix, kMaxSignatureBytes, signature)) return false;
        std::string description;
        if (!ReadWholeFile(PatchInfoPath(), kMaxDescriptionBytes, description)) return false;
        return AcceptDescription(description, signature, releaseKeyPem_, state_.installedVersion, TodayUtc())
            .accepted();
    }

    bool FetchSmall(const std::string& url, size_t limit, std::string& body) {
        auto response = session_->Open(url);
        if (!response || !running() || !IsSuccessStatus(response->StatusCode())) return false;
        char chunk[kHttpChunkSize];
        for (;;) {
            const ReadResult read = response->Read(chunk, sizeof chunk);
            if (read.status == ReadStatus::End) return true;
            if (read.status == ReadStatus::Error || body.size() + read.count > limit || !running()) return false;
            body.append(chunk, read.count);
        }
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

    void FailUnreachableDescription() {
        if (running()) BothBarsFull();
        session_.reset();
        state_.statusText.Set(kTextRunAgain);
        ui_.Invalidate(nullptr, false);
        if (running()) ui_.ShowMessage(kTextInfoFailed);
    }

    void AlreadyUpToDate() {
        RemovePatchInfo();
        RemoveStalePartialDownloads({});
        SettingsStore versionStore(settings_);
        versionStore.SetFile(kVersionFileName);
        versionStore.WriteString("VERSION", "version", remoteVersion_);
        BothBarsFull();
        session_.reset();
        OnPatchFinished(state_, ui_, true);
    }

    void PatchVersions(SettingsStore& patchInfo, WaitCursor& cursor) {
        const PatchInfoLookup lookup = [&patchInfo](const std::string& section, const std::string& key) {
            return patchInfo.ReadString(section, key);
        };
        // The digest lines come with the list, read before the description goes.
        DownloadListResult list = BuildDownloadList(state_.installedVersion, remoteVersion_, lookup);
        RemovePatchInfo();
        if (list.remoteVersionMissing) {
            // A description without a version cannot be recorded: nothing is fetched.
            FailUnreachableDescription();
            return;
        }
        RemoveStalePartialDownloads(list.names);
        const int count = static_cast<int>(list.names.size());
        state_.totalProgress->SetRange32(0, count);
        // Directories and archives are relative to the current directory, which must be the install
        // directory from the first file on.
        const std::string startDir = state_.installDir.Get();
        if (!startDir.empty()) fs_.ChangeDirectory(startDir);

        // An item naming a directory brings no file: the version cannot be recorded as complete.
        bool anyFileFailed = !list.unwritable.empty();
        std::string patchBaseUrl;
        for (int i = 0; i < count && running(); ++i) {
            const std::string& name = list.names[static_cast<size_t>(i)];
            if (!IsAcceptedGameFile(name)) {
                // Never turned into a path: it could reach outside the install directory or meet
                // the launcher's own files.
                anyFileFailed = true;
                continue;
            }
            const ItemDigest& digest = list.digests[static_cast<size_t>(i)];
            // A key demands a line for every item; a line that is there is always held to, and one
            // that cannot be read describes nothing the bytes could match.
            const bool described = digest.state == DigestLineState::Present;
            if (digest.state == DigestLineState::Malformed || (!described && !releaseKeyPem_.empty())) {
                anyFileFailed = true;
                continue;
            }
            if (!FetchOne(i, count, name, patchBaseUrl, described ? &digest.digest : nullptr)) anyFileFailed = true;
        }
        cursor.End();
        // The one durable barrier: every file the new version promises is on the disk before the
        // version says so. A power cut earlier leaves the old version, and the next run fetches again.
        if (running() && !anyFileFailed && !fs_.MakeDurable(state_.installDir.Get())) anyFileFailed = true;
        if (running() && !anyFileFailed) {
            SettingsStore versionStore(settings_);
            versionStore.SetFile(kVersionFileName);
            versionStore.WriteString("VERSION", "version", remoteVersion_);
        }
        if (running()) BothBarsFull();
        session_.reset();
        if (running()) OnPatchFinished(state_, ui_, !anyFileFailed);
        state_.workerRunning = false;
    }

    // Partial downloads of addresses this run does not fetch, or older than a week, are of no more use.
    void RemoveStalePartialDownloads(const std::vector<std::string>& names) {
        std::string base;
        ReadPatchListValue(state_.patchListPath, kPatchBaseUrlLine, base);
        std::set<std::string> addresses;
        for (const std::string& name : names)
            if (IsAcceptedGameFile(name)) addresses.insert(ServerAddress(base, name));
        const std::string dir = state_.installDir.Get();
        RemoveStalePartials(fs_, dir.empty() ? "." : dir, addresses, CurrentUnixTime());
    }

    // Returns false when the file could not be fetched whole or its archive was damaged.
    bool FetchOne(int i, int count, const std::string& name, std::string& patchBaseUrl, const FileDigest* described) {
        ReadPatchListValue(state_.patchListPath, kPatchBaseUrlLine, patchBaseUrl);
        const std::string address = ServerAddress(patchBaseUrl, name);
        const std::string installDir = state_.installDir.Get();
        const std::string target = LocalTargetPath(installDir, name);
        OpenedDownload opened = OpenResumable(*session_, fs_, address, target, CurrentUnixTime());
        auto response = std::move(opened.response);
        if (!response) return false;
        if (!IsSuccessStatus(response->StatusCode())) {
            // An error page never becomes a game file.
            ChangeToInstallDir();
            return false;
        }
        for (const std::string& dir : DirectoriesToCreate(name)) fs_.MakeDirectory(dir);
        const long long announced = AnnouncedLength(*response);
        // A resumed body announces only the rest; the bar and the counter show the whole file.
        const long long resumedFrom = opened.resumeFrom;
        const ByteProgress bar(announced < 0 ? announced : resumedFrom + announced);
        if (running()) state_.fileProgress->SetRange32(0, bar.Upper());
        if (resumedFrom > 0) {
            if (running()) state_.fileProgress->SetPos(bar.Position(resumedFrom));
            state_.bytesReceived = resumedFrom;
            state_.bytesTotal = bar.Length();
        }
        char status[1200];
        std::snprintf(status, sizeof status, kTextReceivingFormat, name.c_str());
        state_.statusText.Set(status);
        state_.archiveIndex = i + 1;
        state_.archiveCount = count;
        ui_.Invalidate(&kFileCounterArea, false);
        ui_.Invalidate(&kStatusLineArea, false);

        const ResumeContext resume{address, resumedFrom, opened.keptValidator};
        DownloadResult result = DownloadToFile(*response, fs_, target, announced, &state_.workerRunning,
                                               [this, bar](long long received) {
                                                   if (running()) state_.fileProgress->SetPos(bar.Position(received));
                                                   state_.bytesReceived = received;
                                                   state_.bytesTotal = bar.Length();
                                                   ui_.Invalidate(&kByteCounterArea, false);
                                               },
                                               described, &resume);
        response.reset();
        if (result.status == DownloadStatus::WriteFailed || result.status == DownloadStatus::ReplaceFailed)
            throw PatchAbort("cannot write " + target);

        bool ok = result.status == DownloadStatus::Complete || result.status == DownloadStatus::Stopped;
        if (result.status == DownloadStatus::Complete && running() && IsArchiveAddress(address))
            ok = Unpack(name, installDir);
        ChangeToInstallDir();
        if (running()) state_.totalProgress->SetPos(i);
        return ok;
    }

    // The archive is read where it was downloaded (for a top-level archive that is its base name in
    // the install directory) and unpacked into the install directory.
    bool Unpack(const std::string& name, const std::string& installDir) {
        if (!installDir.empty()) fs_.ChangeDirectory(installDir);
        state_.extractName.Set(name);
        ui_.StartExtractTimer();
        ExtractOutcome outcome = ExtractArchive(name, LauncherExtractNaming(), &state_.workerRunning,
                                                &state_.extractDone, &state_.extractTotal, fs_);
        state_.extractTotal = 0;
        ui_.StopExtractTimer();
        fs_.Remove(name);
        ui_.Invalidate(nullptr, true);
        return outcome.status != ExtractStatus::Failed;
    }

    void ChangeToInstallDir() {
        const std::string dir = state_.installDir.Get();
        if (!dir.empty()) fs_.ChangeDirectory(dir);
    }

    void FailWithException() {
        try {
            RemovePatchInfo();
        } catch (...) {
        }
        if (running()) BothBarsFull();
        session_.reset();
        if (running()) OnPatchFinished(state_, ui_, false);
        state_.workerRunning = false;
    }

    LauncherState& state_;
    PatchUi& ui_;
    SettingsPlatform& settings_;
    FileSystem& fs_;
    std::function<std::unique_ptr<HttpSession>(const std::string&)> openSession_;
    std::unique_ptr<HttpSession> session_;
    std::string remoteVersion_;
    const std::string releaseKeyPem_;
    std::string patchInfoUrl_;
};

}  // namespace

int PatchWorker(PatchWorkerContext context) {
    // The context's shared pointers keep the state, the UI sink and the settings alive for the whole
    // run, also when the window is gone before the worker ends.
    try {
        Run(context).Execute();
    } catch (...) {
        // Nothing may escape the thread's entry.
    }
    return 1;
}

void OnPatchFinished(LauncherState& state, PatchUi& ui, bool success) {
    state.fileProgress->SetPos(1);
    state.totalProgress->SetPos(1);
    if (success) {
        state.statusText.Set(kTextSuccess);
        state.startButton->Enable(true);
        state.startButton->StartBlink();
        state.readyToStart = true;
        ui.Invalidate(nullptr, true);
        ui.Invalidate(nullptr, false);
    } else {
        state.statusText.Set(kTextFailure);
        state.readyToStart = false;
        ui.Invalidate(nullptr, false);
    }
    ui.PatchFinished(success);
}

}  // namespace qr
