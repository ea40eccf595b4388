#include "archive/ArchiveExtraction.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "archive/ZipEntryStream.h"
#include "archive/ZipReader.h"
#include "platform/DebugTrace.h"
#include "platform/FileError.h"

namespace qr {
namespace {

constexpr uint32_t kTransferSize = 65536;
constexpr uint32_t kNameBufferSize = 512;  // names of up to 511 bytes and their terminator
constexpr uint32_t kEncryptedFlag = 0x0001;
constexpr uint32_t kNoEntry = UINT32_MAX;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Names go into reasons as they stand, except control bytes, which a hostile name may carry.
std::string Printable(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

// Names that reach the same file (on Windows: any case, either separator, "." and empty components)
// share a key; their entries are extracted one after the other on one thread, so their temporary
// files never meet and the later entry wins.
std::string TargetKey(std::string_view name) {
    std::string key;
    key.reserve(name.size());
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i])) continue;
        std::string_view component = name.substr(start, i - start);
        start = i + 1;
        if (component.empty() || component == ".") continue;
        if (!key.empty()) key += '/';
        for (char c : component) key += LowerAscii(c);
    }
    return key;
}

std::string EntryLabel(uint32_t index, uint32_t count) {
    return "entry " + std::to_string(index + 1) + " of " + std::to_string(count);
}

// Keeps the failure of the earliest entry in full and counts the rest, so the worker gets one
// clear reason whatever order the threads finished in.
class FailureLog {
public:
    void Add(uint32_t position, std::string reason) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_++ == 0 || position < firstPosition_) {
            firstPosition_ = position;
            first_ = std::move(reason);
        }
    }
    bool empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_ == 0;
    }
    std::string Reason() const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ <= 1) return first_;
        return first_ + " (and " + std::to_string(count_ - 1) + " more failed entr" + (count_ == 2 ? "y)" : "ies)");
    }

private:
    mutable std::mutex mutex_;
    int count_ = 0;
    uint32_t firstPosition_ = 0;
    std::string first_;
};

// One entry to extract, taken from the central directory before any thread starts.
struct PlannedEntry {
    uint32_t index = 0;
    ZipEntryInfo info;
    uint32_t localHeaderOffset = 0;
    size_t nameStart = 0;  // in the plan's name store
    size_t nameLength = 0;
    bool isDirectory = false;
    uint32_t next = kNoEntry;  // the next entry of the same target, extracted after this one
};

// The whole central directory walked once on the calling thread: the entries to extract with their
// names in one store, grouped by target. Refused entries only leave their failure.
struct Plan {
    std::vector<PlannedEntry> entries;
    std::vector<uint32_t> jobs;  // the first entry of each target, in central directory order
    std::string names;
    uint32_t refused = 0;

    std::string_view Name(const PlannedEntry& e) const { return std::string_view(names).substr(e.nameStart, e.nameLength); }
};

class Planner {
public:
    Planner(ZipReader& reader, FailureLog& failures, const ExtractNaming& naming, const EntryFilter* wanted)
        : reader_(reader), failures_(failures), naming_(naming), wanted_(wanted) {}

    // Walks every entry; false when the archive holds none.
    bool Build(Plan& plan) {
        bool more = reader_.GoToFirstEntry();
        if (!more && !reader_.Problem().empty()) failures_.Add(0, reader_.Problem());
        if (!more) return false;
        plan.entries.reserve(reader_.EntryCount());
        while (more) {
            PlanCurrent(plan);
            more = reader_.GoToNextEntry();
            // A damaged header ends the walk: the lengths that lead further cannot be trusted.
            if (!more && !reader_.Problem().empty())
                failures_.Add(reader_.EntryIndex() + 1, reader_.Problem() + "; the entries after it were not extracted");
        }
        return true;
    }

private:
    void Refuse(Plan& plan, uint32_t index, std::string_view name, const std::string& what) {
        failures_.Add(index, EntryLabel(index, reader_.EntryCount()) + " \"" + Printable(name) + "\": " + what);
        plan.refused += 1;
    }

    void PlanCurrent(Plan& plan) {
        const uint32_t index = reader_.EntryIndex();
        ZipEntryInfo info;
        reader_.GetEntryInfo(&info, nullptr, 0);
        if (info.nameLength >= kNameBufferSize) {
            failures_.Add(index, EntryLabel(index, reader_.EntryCount()) + ": its name of " +
                                     std::to_string(info.nameLength) + " bytes is longer than the 511 allowed");
            plan.refused += 1;
            return;
        }
        ZipEntryName entryName;
        if (!reader_.GetEntryName(entryName)) {
            failures_.Add(index, EntryLabel(index, reader_.EntryCount()) + ": its name lies outside the archive");
            plan.refused += 1;
            return;
        }
        const std::string& name = entryName.path;
        // A repair takes only the entries it asks for, by the name they land under.
        if (wanted_ && *wanted_ && !(*wanted_)(name)) return;

        // The launcher runs elevated: a name that could reach outside the install directory never
        // reaches the file system. The reader has decoded and normalised it ("./a" is "a").
        if (!entryName.refusal.empty()) return Refuse(plan, index, entryName.shown, "refused: " + entryName.refusal);
        // The caller's own names: a temporary file must never land on another entry's file.
        if (std::string why = naming_.refusal ? naming_.refusal(name) : std::string(); !why.empty())
            return Refuse(plan, index, entryName.shown, "refused: " + why);
        if (!entryName.isDirectory && (info.flags & kEncryptedFlag))
            return Refuse(plan, index, entryName.shown, "the entry is encrypted, which is not supported; existing file kept");

        PlannedEntry entry;
        entry.index = index;
        entry.info = info;
        entry.localHeaderOffset = reader_.LocalHeaderOffset();
        entry.nameStart = plan.names.size();
        entry.nameLength = name.size();
        entry.isDirectory = entryName.isDirectory;
        plan.names.append(name);
        const uint32_t position = static_cast<uint32_t>(plan.entries.size());
        plan.entries.push_back(entry);
        auto [last, isNew] = lastOfTarget_.emplace(TargetKey(name), position);
        if (isNew)
            plan.jobs.push_back(position);
        else {
            plan.entries[last->second].next = position;
            last->second = position;
        }
    }

    ZipReader& reader_;
    FailureLog& failures_;
    const ExtractNaming& naming_;
    const EntryFilter* wanted_;
    std::unordered_map<std::string, uint32_t> lastOfTarget_;
};

// What the threads of one extraction share. Each thread takes the next target, extracts its entries
// with its own transfer buffer and entry stream, and reads the archive only by position.
class Extraction {
public:
    Extraction(const ZipReader& reader, const Plan& plan, FileSystem& fs, FailureLog& failures,
               const ExtractNaming& naming, const std::atomic<bool>* runFlag, std::atomic<int>* doneOut)
        : reader_(reader), plan_(plan), fs_(fs), failures_(failures), naming_(naming), runFlag_(runFlag),
          doneOut_(doneOut),
          started_(static_cast<int>(plan.refused)) {
        if (doneOut_) doneOut_->store(started_.load());
    }

    void Work(unsigned char* transfer) {
        try {
            TakeJobs(transfer);
        } catch (...) {
            // Out of memory for a name or a reason: the entries this thread had not started stay
            // unextracted, and the outcome says so.
            failures_.Add(kNoEntry, "not enough memory to go on extracting");
            stopped_ = true;
        }
    }

    bool stopped() const { return stopped_.load(); }
    int started() const { return started_.load(); }

private:
    bool running() const { return !runFlag_ || runFlag_->load(); }

    void TakeJobs(unsigned char* transfer) {
        for (;;) {
            const size_t job = nextJob_.fetch_add(1);
            if (job >= plan_.jobs.size()) return;
            for (uint32_t e = plan_.jobs[job]; e != kNoEntry; e = plan_.entries[e].next) {
                if (!running()) {
                    stopped_ = true;
                    return;
                }
                Publish(++started_);
                ExtractOne(plan_.entries[e], transfer);
                char trace[128];
                std::snprintf(trace, sizeof trace, "thread : %d\n", runFlag_ ? static_cast<int>(runFlag_->load()) : 1);
                DebugTrace(trace);
            }
        }
    }

    // Several threads count at once: the window is never shown a smaller number than before.
    void Publish(int count) {
        if (!doneOut_) return;
        int shown = doneOut_->load();
        while (shown < count && !doneOut_->compare_exchange_weak(shown, count)) {
        }
    }

    void Fail(const PlannedEntry& e, const std::string& what) {
        failures_.Add(e.index, EntryLabel(e.index, reader_.EntryCount()) + " \"" + Printable(plan_.Name(e)) + "\": " + what);
    }

    void ExtractOne(const PlannedEntry& e, unsigned char* transfer) {
        const std::string name(plan_.Name(e));
        if (e.isDirectory) {
            if (!MakeParentDirectories(name, fs_, &directories_)) Fail(e, "the directory could not be created");
            return;
        }
        // The entry's data and buffers come first: when they are unavailable no file is created or
        // truncated.
        uint32_t dataPos = 0;
        std::string problem;
        if (!reader_.FindEntryData(e.localHeaderOffset, e.index, &dataPos, &problem))
            return Fail(e, problem + "; existing file kept");
        ZipEntryStream stream(reader_.File(), e.info, dataPos, reader_.BaseShift());
        if (!stream.Start()) {
            stream.Intact(&problem);
            return Fail(e, EntryLabel(e.index, reader_.EntryCount()) + ": " + problem + "; existing file kept");
        }
        std::string temp = name;
        temp += naming_.tempSuffix;
        if (!WriteTemp(name, temp, stream, transfer, problem)) return Fail(e, problem);
        if (naming_.check) {
            const std::string refusal = naming_.check(name, temp);
            if (!refusal.empty()) {
                fs_.Remove(temp);
                return Fail(e, EntryLabel(e.index, reader_.EntryCount()) + " (\"" + name + "\"): " + refusal +
                                   "; existing file kept");
            }
        }
        if (!fs_.Replace(temp, name)) {
            const FileError cause = LastFileError();
            fs_.Remove(temp);
            Fail(e, "the existing file could not be replaced (" + DescribeFileError(cause) + "); existing file kept");
        }
    }

    // Writes the entry to `temp`; on any failure the temporary file is gone again.
    bool WriteTemp(const std::string& name, const std::string& temp, ZipEntryStream& stream, unsigned char* transfer,
                   std::string& problem) {
        if (!MakeParentDirectories(name, fs_, &directories_)) {
            problem = "its directories could not be created";
            return false;
        }
        std::unique_ptr<WritableFile> out = fs_.CreateNew(temp);
        if (!out) {
            problem = "the file could not be created (\"" + temp + "\": " + DescribeFileError(LastFileError()) +
                      "); existing file kept";
            return false;
        }
        bool ok = CopyData(stream, *out, transfer, problem);
        if (!out->Close() && ok) {
            ok = false;
            problem = "the written file could not be kept (" + DescribeFileError(LastFileError()) + ")";
        }
        out.reset();
        if (!ok) {
            fs_.Remove(temp);
            problem += "; existing file kept";
        }
        return ok;
    }

    // A short count is the entry's end; whether that end was the real one the stream then tells.
    static bool CopyData(ZipEntryStream& stream, WritableFile& out, unsigned char* transfer, std::string& problem) {
        uint32_t count;
        do {
            count = stream.Read(transfer, kTransferSize);
            if (count > 0 && !out.Write(transfer, count)) {
                problem = "writing the file failed (" + DescribeFileError(LastFileError()) + ")";
                return false;
            }
        } while (count == kTransferSize);
        return stream.Intact(&problem);
    }

    const ZipReader& reader_;
    const Plan& plan_;
    FileSystem& fs_;
    FailureLog& failures_;
    const ExtractNaming& naming_;
    const std::atomic<bool>* runFlag_;
    std::atomic<int>* doneOut_;
    KnownDirectories directories_;
    std::atomic<size_t> nextJob_{0};
    std::atomic<int> started_;
    std::atomic<bool> stopped_{false};
};

unsigned ThreadCount(size_t jobs) {
    const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(cores, jobs)));
}

// Runs `extraction` on the calling thread and on helpers; a helper that cannot be started or get
// its buffer leaves its share to the others.
void RunThreads(Extraction& extraction, unsigned char* ownTransfer, unsigned count) {
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < count; ++i) {
        try {
            helpers.emplace_back([&extraction] {
                std::unique_ptr<unsigned char[]> transfer(new (std::nothrow) unsigned char[kTransferSize]);
                if (transfer) extraction.Work(transfer.get());
            });
        } catch (...) {
            break;
        }
    }
    extraction.Work(ownTransfer);
    for (std::thread& helper : helpers) helper.join();
}

struct ExtractRequest {
    const std::string& archivePath;
    const ExtractNaming& naming;
    const EntryFilter* wanted;
    const std::atomic<bool>* runFlag;
    std::atomic<int>* doneOut;
    std::atomic<int>* totalOut;
};

ExtractOutcome Extract(const ExtractRequest& request, FileSystem& fs) {
    const std::string& archivePath = request.archivePath;
    // Without a suffix an entry would be written straight over its target.
    if (request.naming.tempSuffix.empty()) return {ExtractStatus::Failed, "no temporary suffix was given"};
    ZipReader reader;
    if (!reader.OpenArchive(archivePath, fs)) return {ExtractStatus::Failed, reader.Problem()};
    std::unique_ptr<unsigned char[]> transfer(new (std::nothrow) unsigned char[kTransferSize]);
    if (!transfer) return {ExtractStatus::Failed, "not enough memory to extract \"" + archivePath + "\""};

    FailureLog failures;
    Plan plan;
    bool stopped = false;
    int reached = 0;
    if (Planner(reader, failures, request.naming, request.wanted).Build(plan)) {
        // The count of the archive before is reset (by the extraction) before the new total shows,
        // so a repaint never divides an old count by the new total.
        Extraction extraction(reader, plan, fs, failures, request.naming, request.runFlag, request.doneOut);
        if (request.totalOut) request.totalOut->store(static_cast<int>(reader.EntryCount()));
        RunThreads(extraction, transfer.get(), ThreadCount(plan.jobs.size()));
        stopped = extraction.stopped();
        reached = extraction.started();
    }
    const uint32_t total = reader.EntryCount();
    reader.CloseArchive();

    if (!failures.empty()) return {ExtractStatus::Failed, failures.Reason()};
    if (stopped)
        return {ExtractStatus::Stopped, "stopped after entry " + std::to_string(reached) + " of " + std::to_string(total)};
    return {};
}

}  // namespace

ExtractOutcome ExtractArchive(const std::string& archivePath, const ExtractNaming& naming,
                              const std::atomic<bool>* runFlag, std::atomic<int>* doneOut,
                              std::atomic<int>* totalOut, FileSystem& fs) {
    return Extract({archivePath, naming, nullptr, runFlag, doneOut, totalOut}, fs);
}

ExtractOutcome ExtractArchiveEntries(const std::string& archivePath, const ExtractNaming& naming,
                                     const EntryFilter& wanted, const std::atomic<bool>* runFlag, FileSystem& fs) {
    return Extract({archivePath, naming, &wanted, runFlag, nullptr, nullptr}, fs);
}

}  // namespace qr
