// What a patch run tells its front-end (the launcher window, the console), by meaning. Every call
// arrives on the worker's thread; a front-end hands it on to its own thread as it needs.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "common/GuardedString.h"

namespace qr {

// Shared by the worker and its front-end for the whole run, so either may outlive the other.
struct PatchRunControl {
    std::atomic<bool> workerRunning{false};  // the front-end clears it to stop the run
    // The archive being unpacked: entries started and entries in all; total is 0 between archives.
    std::atomic<int> extractDone{0};
    std::atomic<int> extractTotal{0};
    // Bytes every connection received in this run (kept bytes of earlier runs not counted).
    std::atomic<long long> bytesThisRun{0};
    // The digest line a verified description gives the game program; empty without a key or a line.
    GuardedString verifiedGameDigest;
};

struct FileStart {
    int index = 0;  // 1-based position in the run's list
    int count = 0;
    std::string name;
    long long resumedFrom = 0;  // bytes an earlier run kept
    long long total = -1;       // the whole file's length; -1 when the server announced none
    long long wholeSize = -1;   // when the bytes are a delta's or compressed: the size of the file they make
    bool delta = false;         // a delta from the player's copy; else, with wholeSize, the file compressed
};

enum class PatchOutcome {
    Succeeded,               // the version is recorded
    Failed,                  // something could not be fetched, checked, unpacked or recorded
    Stopped,                 // the front-end stopped the run
    NoConnection,            // no internet layer at all
    DescriptionUnavailable,  // the patch description did not arrive, or was refused
};

class PatchEvents {
public:
    virtual ~PatchEvents() = default;
    virtual void BusyChanged(bool busy) = 0;  // on for the whole run, off after the last event
    virtual void StatusChanged(const std::string& text) = 0;
    // The version the patch description offers, once it has been read and accepted.
    virtual void ServedVersionKnown(const std::string& version) = 0;
    virtual void FilesPlanned(int count) = 0;
    virtual void FileStarted(const FileStart& file) = 0;
    virtual void BytesReceived(long long received, long long total) = 0;  // total -1 when unknown
    virtual void FileFinished(int index) = 0;
    // `name` is the archive; the progress is in PatchRunControl's counters while it runs.
    virtual void ExtractStarted(const std::string& name) = 0;
    virtual void ExtractFinished() = 0;
    // One item could not be fetched, checked or unpacked; the run goes on with the others.
    virtual void FileFailed(const std::string& name, const std::string& reason) = 0;
    // The last event but BusyChanged(false). `reason` says why a run did not succeed.
    virtual void Finished(PatchOutcome outcome, const std::string& reason) = 0;
};

// Passes every event on to `inner`: a layer over a front-end overrides only what it adds to, and a
// new event reaches every layer without edits.
class ForwardingPatchEvents : public PatchEvents {
public:
    explicit ForwardingPatchEvents(std::shared_ptr<PatchEvents> inner) : inner_(std::move(inner)) {}
    void BusyChanged(bool busy) override { inner_->BusyChanged(busy); }
    void StatusChanged(const std::string& text) override { inner_->StatusChanged(text); }
    void ServedVersionKnown(const std::string& version) override { inner_->ServedVersionKnown(version); }
    void FilesPlanned(int count) override { inner_->FilesPlanned(count); }
    void FileStarted(const FileStart& file) override { inner_->FileStarted(file); }
    void BytesReceived(long long received, long long total) override { inner_->BytesReceived(received, total); }
    void FileFinished(int index) override { inner_->FileFinished(index); }
    void ExtractStarted(const std::string& name) override { inner_->ExtractStarted(name); }
    void ExtractFinished() override { inner_->ExtractFinished(); }
    void FileFailed(const std::string& name, const std::string& reason) override { inner_->FileFailed(name, reason); }
    void Finished(PatchOutcome outcome, const std::string& reason) override { inner_->Finished(outcome, reason); }

private:
    std::shared_ptr<PatchEvents> inner_;
};

}  // namespace qr
