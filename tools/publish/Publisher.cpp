#include "tools/publish/Publisher.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/ZipWriter.h"
#include "platform/FileError.h"
#include "platform/Sha256.h"
#include "release/PatchListFile.h"
#include "release/ReleaseAcceptance.h"
#include "release/FileHashing.h"
#include "release/ReleaseNames.h"
#include "release/DeltaDescription.h"
#include "tools/publish/DeltaMaker.h"
#include "tools/publish/GameTree.h"
#include "tools/publish/ReleasePlan.h"
#include "tools/publish/ReleaseSigner.h"
#include "tools/publish/ReleaseTreeLinks.h"
#include "tools/publish/ServedRelease.h"
#include "tools/publish/StagedFiles.h"

namespace qr::publish {
namespace {

constexpr char kPlaceholderNews[] =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>QuorvelRPG</title></head>\n"
    "<body><p>QuorvelRPG</p></body></html>\n";

void MakeParents(FileSystem& fs, const std::string& base, const std::string& relative) {
    for (size_t i = 0; i < relative.size(); ++i)
        if (relative[i] == '/') fs.MakeDirectory(JoinPath(base, relative.substr(0, i)));
}

bool ParseVersion(const char* text, int& version) {
    const size_t length = std::strlen(text);
    if (length == 0 || length > 9) return false;
    for (size_t i = 0; i < length; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    version = std::atoi(text);
    return version >= 1;
}

bool IsWebAddress(const std::string& url) {
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) return false;
    for (char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
    return true;
}

// The copy must be the bytes that were hashed: a file changed meanwhile is caught here.
StagedFiles::Writer CopyChecked(FileSystem& fs, const std::string& source, const FileDigest& expected) {
    return [&fs, source, expected](WritableFile& out, std::string& problem) {
        HashingFile hashing(out);
        if (!CopyFileBytes(fs, source, hashing)) {
            // Every failed read or write states its cause; without one the source ended early.
            const FileError cause = LastFileError();
            problem = "cannot copy " + source + " (" +
                      (cause.fault == FileFault::None ? std::string("it shrank while it was read; run again")
                                                      : DescribeFileError(cause)) + ")";
            return false;
        }
        if (!SameContent(hashing.Digest(), expected)) {
            problem = source + " changed while it was being published; run again";
            return false;
        }
        return true;
    };
}

class Run {
public:
    Run(const PublishOptions& options, FileSystem& fs, std::ostream& out, std::ostream& err)
        : o_(options), fs_(fs), out_(out), err_(err) {}

    int Execute() {
        std::string problem;
        if (!Go(problem)) {
            err_ << "quorvel-publish: " << problem << "\n";
            err_ << "quorvel-publish: nothing was published; " << o_.releaseDir << " is unchanged\n";
            return 1;
        }
        return 0;
    }

private:
    std::string Tzan(const std::string& relative) const { return JoinPath(JoinPath(o_.releaseDir, "tzan"), relative); }
    std::string Served(const std::string& relative) const { return JoinPath(Tzan("patch"), relative); }
    std::string SignaturePath() const { return Tzan(std::string(kPatchInfoFileName) + kSignatureSuffix); }

    bool Go(std::string& problem) {
        if (!fs_.IsDirectory(o_.releaseDir)) {
            problem = "the release directory " + o_.releaseDir + " does not exist";
            return false;
        }
        if (!RefuseLinks(o_.releaseDir, problem)) return false;
        std::string patchList;
        if (!o_.baseUrl.empty()) {
            std::optional<std::string> text = NewPatchList(problem);
            if (!text) return false;
            patchList = *text;
        }
        if (!o_.signKeyPath.empty()) {
            key_ = ReadWholeFile(fs_, o_.signKeyPath);
            if (!key_) {
                problem = "cannot read the key " + o_.signKeyPath;
                return false;
            }
        }
        ServedReleaseRequest check{Tzan(""), key_.value_or(std::string()), o_.signKeyPath, o_.adoptUnsigned, o_.stateDir};
        std::optional<CheckedRelease> served = ReadServedRelease(check, fs_, problem);
        if (!served) return false;
        if (o_.refresh) return Refresh(*served, problem);
        if (!o_.baseInstallDir.empty()) return WriteBaseInstall(*served, problem);
        const ReleaseHistory& history = served->history;
        if (!served->description && patchList.empty() && !fs_.OpenRead(Tzan(kPatchListFileName))) {
            problem = "a first publish needs --base-url: without " + Tzan(kPatchListFileName) +
                      " no launcher finds the release";
            return false;
        }

        std::optional<GameTree> tree = ScanGameTree(o_.treeDir, fs_, problem);
        if (!tree) return false;
        for (const std::string& name : tree->skipped)
            out_ << "note: " << name << " is left out: the launcher keeps its own\n";
        if (!tree->files.count(kGameFileName))
            err_ << "warning: the tree has no " << kGameFileName << ": players could not start the game from it\n";
        PlanRequest request{o_.version, o_.archive, tree->files};
        std::optional<ReleasePlan> plan = PlanRelease(history, request, problem);
        if (!plan) return false;
        if (plan->plainItems.empty() && plan->archiveEntries.empty() && !o_.allowEmpty) {
            problem = "nothing changed since version " + std::to_string(history.lastVersion()) +
                      "; --allow-empty publishes an empty version anyway";
            return false;
        }
        for (const std::string& note : plan->notes) out_ << "note: " << note << "\n";
        // Said once, in the publish it leaves the tree; the description records it for later runs.
        std::vector<std::string> leaving;
        for (const std::string& name : plan->removed)
            if (!history.gone.count(name)) leaving.push_back(name);
        for (const std::string& name : leaving)
            err_ << "warning: " << name << " is no longer in the tree, but players keep it: a release cannot "
                 << "delete files\n";
        return WriteVersion(*served, *plan, leaving, patchList, problem);
    }

    bool WriteVersion(const CheckedRelease& served, const ReleasePlan& plan, const std::vector<std::string>& leaving,
                      const std::string& patchList, std::string& problem) {
        const ReleaseHistory& history = served.history;
        fs_.MakeDirectory(JoinPath(o_.releaseDir, "tzan"));
        fs_.MakeDirectory(Tzan("patch"));
        StagedFiles staged(fs_);
        uint64_t bytes = 0;
        FileDigest archiveDigest;
        if (!StageGameFiles(staged, plan, archiveDigest, bytes, problem)) return false;
        DeltaRequest deltaRequest{&fs_, o_.treeDir, Tzan("patch"), &history, served.description.value_or(""),
                                  &plan.target, o_.deltas,
                                  [this](size_t done, size_t total) { Progress("compressing", done, total); }};
        deltaRequest.archived = &plan.archiveEntries;  // sorted
        std::optional<DeltaOutput> deltas = MakeReleaseDeltas(deltaRequest, staged, problem);
        if (!deltas) return false;

        DescriptionText described = DescribeRelease(history, plan, archiveDigest);
        WriteDeltaCatalog(described, plan.section, deltas->catalog);
        described.Set("VERSION", "expires", FormatExpiryDate(UtcDateInDays(o_.expiresDays)));
        for (size_t i = 0; i < leaving.size(); ++i)
            described.Set(RemovedSectionName(plan.section), std::to_string(i), leaving[i]);
        if (!StageDescription(staged, described.Format(), problem)) return false;
        if (!patchList.empty() && !staged.Stage(Tzan(kPatchListFileName), Bytes(patchList), problem)) return false;
        bool placeholderNews = false;
        if (!StagePlaceholderNews(staged, patchList, placeholderNews, problem)) return false;
        if (!staged.Commit(problem) || !KeepState(problem)) return false;
        if (placeholderNews)
            out_ << "note: wrote a placeholder news page " << Tzan(kNewsPageName) << "; replace it with your own\n";
        Summarize(plan, bytes, patchList);
        SummarizeDeltas(plan, bytes, deltas->summary);
        return true;
    }

    void SummarizeDeltas(const ReleasePlan& plan, uint64_t bytes, const DeltaSummary& s) {
        if (o_.deltas == 0) return;
        out_ << "version " << plan.section << " for new launchers: " << bytes << " bytes of items, " << s.wholes
             << " whole file(s) compressed in " << s.wholeBytes << " bytes, " << s.deltas << " delta(s) in "
             << s.deltaBytes << " bytes\n";
        if (s.notSmaller > 0)
            out_ << "note: " << s.notSmaller << " delta(s) were not clearly smaller than the compressed file and are "
                 << "left out\n";
        if (s.noOldBytes > 0)
            out_ << "note: " << s.noOldBytes << " older content(s) are no longer in the release (published before "
                 << "deltas, or removed from " << kDeltaFolder << "/): no delta from them\n";
    }

    bool StageGameFiles(StagedFiles& staged, const ReleasePlan& plan, FileDigest& archiveDigest, uint64_t& bytes,
                        std::string& problem) {
        std::vector<std::string> plainFiles = plan.plainItems;
        plainFiles.insert(plainFiles.end(), plan.rewritten.begin(), plan.rewritten.end());
        std::sort(plainFiles.begin(), plainFiles.end());
        plainFiles.erase(std::unique(plainFiles.begin(), plainFiles.end()), plainFiles.end());
        size_t done = 0;
        for (const std::string& name : plainFiles) {
            Progress("copying", ++done, plainFiles.size());
            const std::string served = ServedPath(name);
            MakeParents(fs_, Tzan("patch"), served);
            if (!staged.Stage(Served(served), CopyChecked(fs_, JoinPath(o_.treeDir, name), plan.target.at(name)), problem))
                return false;
            bytes += plan.target.at(name).size;
        }
        if (!plan.archiveName.empty()) {
            MakeParents(fs_, Tzan("patch"), plan.archiveName);
            if (!staged.Stage(Served(plan.archiveName),
                              [&](WritableFile& file, std::string& why) { return WriteArchive(plan, file, archiveDigest, why); },
                              problem))
                return false;
            bytes += archiveDigest.size;
        }
        return true;
    }

    void Summarize(const ReleasePlan& plan, uint64_t bytes, const std::string& patchList) {
        const size_t files = plan.plainItems.size() + plan.archiveEntries.size();
        out_ << "published version " << plan.section << ": " << files << " new or changed file"
             << (files == 1 ? "" : "s") << " (" << plan.plainItems.size() << " plain";
        if (!plan.archiveName.empty())
            out_ << ", " << plan.archiveEntries.size() << " in " << plan.archiveName;
        out_ << "), " << bytes << " bytes written to " << Tzan("patch");
        if (!plan.rewritten.empty()) out_ << ", " << plan.rewritten.size() << " older item(s) now serve the new content";
        out_ << (key_ ? ", signed" : ", unsigned") << "\n";
        if (patchList.empty() && !fs_.OpenRead(Tzan(kPatchListFileName)))
            out_ << "note: there is no " << Tzan(kPatchListFileName) << " yet; give --base-url once so that launchers find "
                 << "the release\n";
    }

    void Progress(const char* step, size_t done, size_t total) {
        if (!o_.progress) return;
        err_ << "\r" << step << " " << done << "/" << total << " files" << (done == total ? "\n" : "") << std::flush;
    }

    // The signature goes into place first and the description right after it: a new
    // description is never served beside an old signature.
    bool StageDescription(StagedFiles& staged, const std::string& description, std::string& problem) {
        if (key_) {
            std::optional<std::string> signature = SignRelease(*key_, description, problem);
            if (!signature) {
                problem = o_.signKeyPath + ": " + problem;
                return false;
            }
            if (!staged.Stage(SignaturePath(), Bytes(*signature), problem)) return false;
            signature_ = *signature;
        }
        description_ = description;
        return staged.Stage(Tzan(kPatchInfoFileName), Bytes(description), problem);
    }

    bool KeepState(std::string& problem) {
        if (o_.stateDir.empty()) return true;
        if (KeepSignedState(o_.stateDir, description_, signature_, fs_, problem)) return true;
        err_ << "quorvel-publish: " << problem << "\n";
        problem.clear();
        return true;  // the release itself is out; only the kept copy lags
    }

    // A patch list naming our own news page beside the description gets a page there, so that
    // players never see an error page.
    bool StagePlaceholderNews(StagedFiles& staged, const std::string& patchList, bool& placed, std::string& problem) {
        placed = false;
        std::string news = newsUrl_;
        if (patchList.empty() && fs_.OpenRead(Tzan(kPatchListFileName)))
            ReadPatchListValue(Tzan(kPatchListFileName), kNewsUrlLine, news);
        const std::string ours = std::string("/tzan/") + kNewsPageName;
        if (news.size() < ours.size() || news.compare(news.size() - ours.size(), ours.size(), ours) != 0) return true;
        if (fs_.OpenRead(Tzan(kNewsPageName))) return true;
        placed = true;
        return staged.Stage(Tzan(kNewsPageName), Bytes(kPlaceholderNews), problem);
    }

    // A new expiry date on the description as it stands: no new version, nothing else changes.
    bool Refresh(const CheckedRelease& served, std::string& problem) {
        if (!served.description) {
            problem = "there is no release in " + o_.releaseDir + " to refresh";
            return false;
        }
        DescriptionText described = DescriptionText::Parse(*served.description);
        const std::string expires = FormatExpiryDate(UtcDateInDays(o_.expiresDays));
        described.Set("VERSION", "expires", expires);
        StagedFiles staged(fs_);
        if (!StageDescription(staged, described.Format(), problem)) return false;
        if (!staged.Commit(problem) || !KeepState(problem)) return false;
        out_ << "refreshed version " << served.history.lastVersion() << ": it now expires on " << expires << "\n";
        return true;
    }

    // What an installer lays down so that the launcher brings it to the newest version: the
    // version before the first published one, from which every version is fetched.
    bool WriteBaseInstall(const CheckedRelease& served, std::string& problem) {
        if (served.history.empty()) {
            problem = "there is no release in " + o_.releaseDir + " yet; publish a version first";
            return false;
        }
        fs_.MakeDirectory(o_.baseInstallDir);
        const std::string base = VersionSectionName(served.history.versions.front().number - 1);
        const std::string path = JoinPath(o_.baseInstallDir, kVersionFileName);
        StagedFiles staged(fs_);
        if (!staged.Stage(path, Bytes("[VERSION]\r\nversion=" + base + "\r\n"), problem) || !staged.Commit(problem))
            return false;
        out_ << "wrote " << path << " (version " << base << "): install it with the launcher; its first run brings "
             << "every version up to " << served.history.lastVersion() << "\n";
        return true;
    }

    static StagedFiles::Writer Bytes(const std::string& bytes) {
        return [bytes](WritableFile& out, std::string& problem) {
            if (out.Write(bytes.data(), bytes.size())) return true;
            problem = "writing failed (" + DescribeFileError(LastFileError()) + ")";
            return false;
        };
    }

    bool WriteArchive(const ReleasePlan& plan, WritableFile& file, FileDigest& digest, std::string& problem) {
        HashingFile hashing(file);
        ZipWriter zip(hashing);
        std::string buffer(1 << 16, '\0');
        size_t done = 0;
        for (const std::string& name : plan.archiveEntries) {
            Progress("packing", ++done, plan.archiveEntries.size());
            const std::string source = JoinPath(o_.treeDir, name);
            std::unique_ptr<ReadableFile> in = fs_.OpenRead(source);
            if (!in) {
                problem = "cannot read " + source;
                return false;
            }
            Sha256 hash;
            uint64_t size = in->Size();
            if (!zip.BeginEntry(name)) break;
            for (uint64_t offset = 0; offset < size;) {
                const size_t got = in->ReadAt(offset, &buffer[0], buffer.size());
                if (got == 0) {
                    problem = "cannot read " + source;
                    return false;
                }
                hash.Update(buffer.data(), got);
                if (!zip.WriteEntryData(buffer.data(), got)) break;
                offset += got;
            }
            if (!zip.Problem().empty() || !zip.EndEntry()) break;
            if (!SameContent({DigestHex(hash.Finish()), size}, plan.target.at(name))) {
                problem = source + " changed while it was being published; run again";
                return false;
            }
        }
        if (!zip.Problem().empty() || !zip.Finish()) {
            problem = plan.archiveName + ": " + zip.Problem();
            return false;
        }
        digest = hashing.Digest();
        return true;
    }

    std::optional<std::string> NewPatchList(std::string& problem) {
        std::string news = o_.newsUrl;
        if (news.empty()) {
            const std::string existing = Tzan(kPatchListFileName);
            if (fs_.OpenRead(existing)) ReadPatchListValue(existing, kNewsUrlLine, news);
        }
        std::optional<std::string> text = PatchListText(o_.baseUrl, news, problem);
        if (text) ReadNewsLine(*text);
        return text;
    }

    void ReadNewsLine(const std::string& patchList) {
        const size_t at = patchList.find("\nnews=");
        if (at == std::string::npos) return;
        const size_t from = at + 6;
        newsUrl_ = patchList.substr(from, patchList.find('\n', from) - from);
    }

    const PublishOptions& o_;
    FileSystem& fs_;
    std::ostream& out_;
    std::ostream& err_;
    std::optional<std::string> key_;
    std::string newsUrl_;
    std::string description_;
    std::string signature_;
};

}  // namespace

const char kPublishUsage[] =
    "usage: quorvel-publish --release DIR --tree GAME_DIR --version N [--sign KEY.pem] [--archive]\n"
    "                       [--base-url URL] [--news-url URL] [--expires-days N] [--state STATE_DIR]\n"
    "                       [--adopt-unsigned] [--allow-empty] [--deltas K]\n"
    "       quorvel-publish --release DIR --refresh --sign KEY.pem [--expires-days N] [--state STATE_DIR]\n"
    "       quorvel-publish --release DIR --base-install OUT_DIR [--sign KEY.pem]\n"
    "  Adds version N to the patch server tree DIR (served at \"/\"), bringing every file of GAME_DIR\n"
    "  that is new or changed since the last version. --archive brings them in one patchNNN.zip;\n"
    "  --sign signs PatchInfo.ini with the ECDSA P-256 key, after checking the served release against\n"
    "  its signature (--adopt-unsigned signs an unsigned release for the first time); --base-url writes\n"
    "  tzan/patch.txt for the server reached at URL (news page: --news-url, else the one patch.txt names,\n"
    "  else URL/tzan/news.html). The description expires after --expires-days days (default 30);\n"
    "  --refresh re-signs it with a new date. --state keeps the signed description outside DIR and\n"
    "  refuses a served copy that differs. --base-install writes what an installer lays down.\n"
    "  --deltas K (default 3, 0: none) serves each changed file zstd-compressed and as deltas from its\n"
    "  last K older contents, for launchers that use them.\n";

namespace {

bool ParseDays(const char* text, int& days) {
    int value = 0;
    if (!ParseVersion(text, value) || value > 3650) return false;
    days = value;
    return true;
}

bool ParseCount(const char* text, int& count) {
    if (std::strlen(text) != 1 || text[0] < '0' || text[0] > '9') return false;
    count = text[0] - '0';
    return static_cast<size_t>(count) <= kMaxDeltasPerName;
}

// Which arguments each mode needs; absent when they fit.
std::optional<std::string> ModeProblem(const PublishOptions& options, bool haveVersion) {
    if (options.releaseDir.empty()) return "--release is required";
    if (options.refresh) {
        if (!options.baseInstallDir.empty() || !options.treeDir.empty() || haveVersion)
            return "--refresh takes no --tree, --version or --base-install";
        if (options.signKeyPath.empty()) return "--refresh needs --sign: it re-signs the description";
    } else if (!options.baseInstallDir.empty()) {
        if (!options.treeDir.empty() || haveVersion) return "--base-install takes no --tree or --version";
    } else if (options.treeDir.empty() || !haveVersion) {
        return "--release, --tree and --version are required";
    }
    if (!options.stateDir.empty() && options.signKeyPath.empty()) return "--state keeps a signed description: give --sign";
    if (options.adoptUnsigned && options.signKeyPath.empty()) return "--adopt-unsigned needs --sign";
    if (!options.newsUrl.empty() && options.baseUrl.empty())
        return "--news-url goes into patch.txt, which only --base-url writes";
    return std::nullopt;
}

}  // namespace

std::optional<PublishOptions> ParsePublishArguments(int argc, const char* const* argv, std::string& problem) {
    PublishOptions options;
    bool haveVersion = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                problem = arg + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        std::string* text = arg == "--release"        ? &options.releaseDir
                            : arg == "--tree"         ? &options.treeDir
                            : arg == "--sign"         ? &options.signKeyPath
                            : arg == "--base-url"     ? &options.baseUrl
                            : arg == "--news-url"     ? &options.newsUrl
                            : arg == "--state"        ? &options.stateDir
                            : arg == "--base-install" ? &options.baseInstallDir
                                                      : nullptr;
        bool* flag = arg == "--archive"          ? &options.archive
                     : arg == "--adopt-unsigned" ? &options.adoptUnsigned
                     : arg == "--allow-empty"    ? &options.allowEmpty
                     : arg == "--refresh"        ? &options.refresh
                                                 : nullptr;
        if (arg == "--help" || arg == "-h") {
            problem.clear();
            return std::nullopt;
        } else if (text) {
            if (!value(*text)) return std::nullopt;
        } else if (flag) {
            *flag = true;
        } else if (arg == "--version") {
            if (i + 1 >= argc || !ParseVersion(argv[i + 1], options.version)) {
                problem = "--version needs a whole number from 1 to 999999999";
                return std::nullopt;
            }
            ++i;
            haveVersion = true;
        } else if (arg == "--deltas") {
            if (i + 1 >= argc || !ParseCount(argv[i + 1], options.deltas)) {
                problem = "--deltas needs a whole number from 0 to " + std::to_string(kMaxDeltasPerName);
                return std::nullopt;
            }
            ++i;
        } else if (arg == "--expires-days") {
            if (i + 1 >= argc || !ParseDays(argv[i + 1], options.expiresDays)) {
                problem = "--expires-days needs a whole number of days from 1 to 3650";
                return std::nullopt;
            }
            ++i;
        } else {
            problem = "unknown argument " + arg;
            return std::nullopt;
        }
    }
    if (std::optional<std::string> wrong = ModeProblem(options, haveVersion)) {
        problem = *wrong;
        return std::nullopt;
    }
    return options;
}

std::optional<std::string> PatchListText(const std::string& baseUrl, const std::string& newsUrl, std::string& problem) {
    std::string base = baseUrl;
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string news = newsUrl.empty() ? base + "/tzan/" + kNewsPageName : newsUrl;
    if (!IsWebAddress(base) || !IsWebAddress(news)) {
        problem = "addresses must start with http:// or https:// and hold no blanks or control characters";
        return std::nullopt;
    }
    const std::string text = "[QuorvelRPG]\ninfo=" + base + "/tzan/" + kPatchInfoFileName + "\nnews=" + news +
                             "\nbase=" + base + "/tzan/patch\n";
    if (text.size() > kPatchListExaminedBytes) {
        problem = "the patch list would be " + std::to_string(text.size()) + " bytes, but launchers read only the first " +
                  std::to_string(kPatchListExaminedBytes) + "; use shorter addresses";
        return std::nullopt;
    }
    return text;
}

int Publish(const PublishOptions& options, FileSystem& fs, std::ostream& out, std::ostream& err) {
    return Run(options, fs, out, err).Execute();
}

}  // namespace qr::publish
