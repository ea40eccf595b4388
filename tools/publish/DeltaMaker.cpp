#include "tools/publish/DeltaMaker.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "archive/DeltaDecoder.h"
#include "archive/DeltaEncoder.h"
#include "platform/FileError.h"
#include "release/FileHashing.h"
#include "release/ReleaseNames.h"
#include "tools/publish/ServedRelease.h"

namespace qr::publish {
namespace {

constexpr char kMakingSuffix[] = ".making";
constexpr char kSourceSuffix[] = ".source";

// One file to make: a name's newest content compressed whole, or a delta to it from one older content.
struct Task {
    std::string name;
    FileDigest target;
    std::optional<FileDigest> source;  // absent: the whole file
    std::string servedName;
    Task(std::string n, FileDigest t, std::optional<FileDigest> s, std::string served)
        : name(std::move(n)), target(std::move(t)), source(std::move(s)), servedName(std::move(served)) {}
    // Filled in by the worker:
    bool made = false;
    bool noOldBytes = false;
    FileDigest served;
};

// Scratch files of this publish beside the served ones, removed unless they were staged.
class Scratch {
public:
    explicit Scratch(FileSystem& fs) : fs_(fs) {}
    ~Scratch() {
        for (const std::string& path : paths_) fs_.Remove(path);
    }
    std::unique_ptr<WritableFile> Create(const std::string& path, std::string& problem) {
        // A leftover of an interrupted publish (or a link planted there) is removed, never written through.
        std::unique_ptr<WritableFile> out = fs_.CreateNew(path);
        if (!out) {
            problem = "cannot create " + path + " (" + DescribeFileError(LastFileError()) + ")";
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        paths_.push_back(path);
        return out;
    }

private:
    FileSystem& fs_;
    std::mutex mutex_;
    std::vector<std::string> paths_;
};

class Maker {
public:
    Maker(const DeltaRequest& request, Scratch& scratch) : r_(request), fs_(*request.fs), scratch_(scratch) {}

    // Runs every task on every core; false with the first problem met. The tasks of one name run one
    // after another on one thread: Windows opens a file for one reader at a time.
    bool Run(std::vector<Task>& tasks, std::string& problem) {
        std::vector<size_t> groups;  // where each name's tasks start (they are contiguous)
        for (size_t i = 0; i < tasks.size(); ++i)
            if (i == 0 || tasks[i].name != tasks[i - 1].name) groups.push_back(i);
        groups.push_back(tasks.size());
        std::atomic<size_t> next{0};
        size_t done = 0;
        std::mutex mutex;
        std::string first;
        const auto work = [&] {
            for (size_t g; (g = next++) + 1 < groups.size();) {
                for (size_t i = groups[g]; i < groups[g + 1]; ++i) {
                    std::string why;
                    const bool ok = Make(tasks[i], why);
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!ok && first.empty()) first = why;
                    if (r_.progress) r_.progress(++done, tasks.size());
                    if (!first.empty()) {
                        next = groups.size();
                        return;
                    }
                }
            }
        };
        const size_t threads =
            std::max<size_t>(1, std::min<size_t>(std::thread::hardware_concurrency(), groups.size() - 1));
        std::vector<std::thread> pool;
        for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
        work();
        for (std::thread& thread : pool) thread.join();
        problem = first;
        return first.empty();
    }

    std::string MadePath(const Task& task) const { return JoinPath(r_.patchDir, task.servedName) + kMakingSuffix; }

private:
    bool Make(Task& task, std::string& problem) {
        const std::string newPath = JoinPath(r_.treeDir, task.name);
        std::unique_ptr<ReadableFile> fresh = fs_.OpenRead(newPath);
        if (!fresh) {
            problem = "cannot read " + newPath;
            return false;
        }
        std::string oldPath;
        // Without the older bytes this one delta is left out; only a failure to write stops the publish.
        if (task.source && !OldBytes(task, oldPath, problem)) return problem.empty();
        std::unique_ptr<ReadableFile> old = task.source ? fs_.OpenRead(oldPath) : nullptr;
        if (task.source && !old) {
            problem = "cannot read " + oldPath;
            return false;
        }
        const std::string made = MadePath(task);
        {
            std::unique_ptr<WritableFile> out = scratch_.Create(made, problem);
            if (!out) return false;
            const DeltaOutcome outcome = old ? MakeDelta(*old, *fresh, *out) : CompressFile(*fresh, *out);
            if (!out->Close() || !outcome.ok) {
                problem = "cannot make " + made + ": " +
                          (outcome.ok ? DescribeFileError(LastFileError()) : outcome.reason);
                return false;
            }
        }
        const bool checked = Check(task, old.get(), made, problem);
        old.reset();
        if (oldPath != JoinPath(r_.patchDir, ServedPath(task.name))) fs_.Remove(oldPath);  // an unpacked copy
        return checked;
    }

    // Decodes what was made and holds the result to the name's newest content.
    bool Check(Task& task, ReadableFile* old, const std::string& made, std::string& problem) {
        std::unique_ptr<ReadableFile> file = fs_.OpenRead(made);
        if (!file) {
            problem = "cannot read " + made;
            return false;
        }
        HashingFile result;  // checked without being kept
        DeltaLimits limits;
        limits.maxNewSize = task.target.size;
        const DeltaOutcome outcome = old ? ApplyDelta(*old, *file, result, limits) : DecompressFile(*file, result, limits);
        if (!outcome.ok || !SameContent(result.Digest(), task.target)) {
            problem = made + " does not rebuild " + task.name + " (changed while it was being published? run again)" +
                      (outcome.ok ? std::string() : ": " + outcome.reason);
            return false;
        }
        file.reset();
        const std::optional<FileDigest> served = DigestOfFile(fs_, made);
        if (!served) {
            problem = "cannot read " + made;
            return false;
        }
        task.served = *served;
        task.made = true;
        return true;
    }

    // Where the older content's bytes are: the served plain item when it still holds them, else the
    // compressed copy a publish left under its digest, unpacked and checked. False with `problem`
    // empty when the release holds them nowhere.
    bool OldBytes(Task& task, std::string& path, std::string& problem) {
        const FileDigest& source = *task.source;
        auto plain = r_.history->servedPlain.find(task.name);
        if (plain != r_.history->servedPlain.end() && SameContent(plain->second, source)) {
            path = JoinPath(r_.patchDir, ServedPath(task.name));
            return true;
        }
        const std::string kept = JoinPath(r_.patchDir, CompressedServedName(source.sha256Hex));
        std::unique_ptr<ReadableFile> compressed = fs_.OpenRead(kept);
        if (!compressed) {
            task.noOldBytes = true;
            return false;
        }
        path = JoinPath(r_.patchDir, task.servedName) + kSourceSuffix;
        std::unique_ptr<WritableFile> out = scratch_.Create(path, problem);
        if (!out) return false;
        DeltaLimits limits;
        limits.maxNewSize = source.size;
        HashingFile hashing(*out);
        const DeltaOutcome outcome = DecompressFile(*compressed, hashing, limits);
        if (!out->Close() || !outcome.ok || !SameContent(hashing.Digest(), source)) {
            // A damaged kept copy only costs this delta.
            task.noOldBytes = true;
            return false;
        }
        return true;
    }

    const DeltaRequest& r_;
    FileSystem& fs_;
    Scratch& scratch_;
};

// A name's older contents, newest first: what players have now, then the sources its last line
// offered, then what the version archives landed.
std::vector<FileDigest> OlderContents(const DeltaRequest& request, const std::map<std::string, NameDeltas>& previous,
                                      const std::string& name, const FileDigest& target) {
    std::vector<FileDigest> found;
    const auto add = [&](const FileDigest& d) {
        if (SameContent(d, target)) return;
        for (const FileDigest& f : found)
            if (SameContent(f, d)) return;
        found.push_back(d);
    };
    auto current = request.history->tree.find(name);
    if (current != request.history->tree.end()) add(current->second);
    auto line = previous.find(name);
    if (line != previous.end())
        for (const DescribedDelta& d : line->second.deltas) add(d.source);
    for (auto v = request.history->versions.rbegin(); v != request.history->versions.rend(); ++v) {
        auto entry = v->contents.find(name);
        if (entry != v->contents.end()) add(entry->second);
    }
    if (found.size() > static_cast<size_t>(request.keep)) found.resize(static_cast<size_t>(request.keep));
    return found;
}

// Every player's list lands the name from the new version's archive: without a compressed file of
// its own, a new launcher would fetch the whole archive for it.
bool InNewArchive(const DeltaRequest& request, const std::string& name) {
    return request.archived && std::binary_search(request.archived->begin(), request.archived->end(), name);
}

// Small files come compressed whole at most; a delta is worth its line and request only above this.
bool DeltasWorthIt(const FileDigest& digest) { return digest.size >= kMinDeltaFileSize; }

// One task per served file, however many names share it; the tasks of one name stand together.
// Unchanged names keep the line their version wrote (its files stay served).
std::vector<Task> PlanTasks(const DeltaRequest& request, const std::map<std::string, NameDeltas>& previous,
                            std::vector<std::string>& changed, std::map<std::string, NameDeltas>& catalog) {
    std::vector<Task> tasks;
    std::set<std::string> planned;
    for (const auto& [name, digest] : *request.target) {
        auto current = request.history->tree.find(name);
        if (current != request.history->tree.end() && SameContent(current->second, digest)) {
            auto line = previous.find(name);
            if (line != previous.end()) catalog.emplace(name, line->second);
            continue;
        }
        if (request.keep == 0 || (!DeltasWorthIt(digest) && !InNewArchive(request, name))) continue;
        changed.push_back(name);
        const std::string whole = CompressedServedName(digest.sha256Hex);
        if (planned.insert(whole).second) tasks.emplace_back(name, digest, std::nullopt, whole);
        if (!DeltasWorthIt(digest)) continue;
        for (const FileDigest& old : OlderContents(request, previous, name, digest)) {
            const std::string delta = DeltaServedName(old.sha256Hex, digest.sha256Hex);
            if (planned.insert(delta).second) tasks.emplace_back(name, digest, old, delta);
        }
    }
    return tasks;
}

// The changed names' lines: the compressed whole, and each delta clearly smaller than it (else the
// extra request and line are not worth it). Returns the served names of the deltas kept.
std::set<std::string> DescribeChanged(const DeltaRequest& request, const std::map<std::string, NameDeltas>& previous,
                                      const std::vector<std::string>& changed, const std::vector<Task>& tasks,
                                      std::map<std::string, NameDeltas>& catalog) {
    std::map<std::string, const Task*> byServedName;
    for (const Task& task : tasks) byServedName.emplace(task.servedName, &task);
    std::set<std::string> kept;
    for (const std::string& name : changed) {
        const FileDigest& digest = request.target->at(name);
        const Task* whole = byServedName.at(CompressedServedName(digest.sha256Hex));
        NameDeltas line;
        line.newest = digest;
        line.whole = CompressedWhole{whole->served, whole->servedName};
        const std::vector<FileDigest> sources =
            DeltasWorthIt(digest) ? OlderContents(request, previous, name, digest) : std::vector<FileDigest>{};
        for (const FileDigest& old : sources) {
            const Task* delta = byServedName.at(DeltaServedName(old.sha256Hex, digest.sha256Hex));
            if (!delta->made || delta->served.size * 10 > whole->served.size * 9) continue;
            line.deltas.push_back(DescribedDelta{old, delta->served, DeltaMethod::ZstdSegmented, delta->servedName});
            kept.insert(delta->servedName);
        }
        catalog[name] = std::move(line);
    }
    return kept;
}

}  // namespace

std::optional<DeltaOutput> MakeReleaseDeltas(const DeltaRequest& request, StagedFiles& staged, std::string& problem) {
    DeltaOutput output;
    const std::map<std::string, NameDeltas> previous =
        request.previousDescription.empty() ? std::map<std::string, NameDeltas>{}
                                            : ReadDeltaCatalog(request.previousDescription);
    std::vector<std::string> changed;
    std::vector<Task> tasks = PlanTasks(request, previous, changed, output.catalog);
    if (!tasks.empty()) request.fs->MakeDirectory(JoinPath(request.patchDir, kDeltaFolder));
    Scratch scratch(*request.fs);
    Maker maker(request, scratch);
    if (!maker.Run(tasks, problem)) return std::nullopt;

    const std::set<std::string> kept = DescribeChanged(request, previous, changed, tasks, output.catalog);
    DeltaSummary& s = output.summary;
    for (const Task& task : tasks) {
        if (task.noOldBytes) ++s.noOldBytes;
        if (!task.made) continue;
        if (task.source && !kept.count(task.servedName)) {
            ++s.notSmaller;
            continue;  // the scratch file goes with the scratch
        }
        if (!staged.Adopt(JoinPath(request.patchDir, task.servedName), maker.MadePath(task), problem)) return std::nullopt;
        (task.source ? s.deltas : s.wholes) += 1;
        (task.source ? s.deltaBytes : s.wholeBytes) += task.served.size;
    }
    return output;
}

}  // namespace qr::publish
