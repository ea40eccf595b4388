#include "tools/publish/Publisher.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/ZipWriter.h"
#include "platform/FileError.h"
#include "platform/Sha256.h"
#include "release/PatchListFile.h"
#include "release/ReleaseNames.h"
#include "tools/publish/GameTree.h"
#include "tools/publish/ReleasePlan.h"
#include "tools/publish/ReleaseSigner.h"
#include "tools/publish/StagedFiles.h"

namespace qr::publish {
namespace {

// Counts and hashes what passes through on its way to the real file.
class HashingFile : public WritableFile {
public:
    explicit HashingFile(WritableFile& inner) : inner_(inner) {}
    bool Write(const void* data, size_t length) override {
        hash_.Update(data, length);
        size_ += length;
        return inner_.Write(data, length);
    }
    bool Close() override { return true; }  // the owner closes the real file
    FileDigest Digest() { return {DigestHex(hash_.Finish()), size_}; }

private:
    WritableFile& inner_;
    Sha256 hash_;
    uint64_t size_ = 0;
};

std::string Join(const std::string& dir, const std::string& relative) {
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + relative;
    return dir + "/" + relative;
}

std::optional<std::string> ReadWhole(FileSystem& fs, const std::string& path) {
    std::unique_ptr<ReadableFile> file = fs.OpenRead(path);
    if (!file) return std::nullopt;
    std::string bytes(static_cast<size_t>(file->Size()), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t got = file->ReadAt(done, &bytes[done], bytes.size() - done);
        if (got == 0) return std::nullopt;
        done += got;
    }
    return bytes;
}

void MakeParents(FileSystem& fs, const std::string& base, const std::string& relative) {
    for (size_t i = 0; i < relative.size(); ++i)
        if (relative[i] == '/') fs.MakeDirectory(Join(base, relative.substr(0, i)));
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
    std::string Tzan(const std::string& relative) const { return Join(Join(o_.releaseDir, "tzan"), relative); }
    std::string Served(const std::string& relative) const { return Join(Tzan("patch"), relative); }
    std::string SignaturePath() const { return Tzan(std::string(kPatchInfoFileName) + kSignatureSuffix); }

    bool Go(std::string& problem) {
        if (!fs_.IsDirectory(o_.releaseDir)) {
            problem = "the release directory " + o_.releaseDir + " does not exist";
            return false;
        }
        std::string patchList;
        if (!o_.baseUrl.empty()) {
            std::optional<std::string> text = NewPatchList(problem);
            if (!text) return false;
            patchList = *text;
        }
        std::optional<std::string> key;
        if (!o_.signKeyPath.empty()) {
            key = ReadWhole(fs_, o_.signKeyPath);
            if (!key) {
                problem = "cannot read the key " + o_.signKeyPath;
                return false;
            }
        }

        ReleaseHistory history;
        if (std::optional<std::string> text = ReadWhole(fs_, Tzan(kPatchInfoFileName))) {
            std::optional<ReleaseHistory> read = ReadReleaseHistory(*text, problem);
            if (!read) {
                problem = Tzan(kPatchInfoFileName) + ": " + problem;
                return false;
            }
            history = std::move(*read);
            if (!CheckServedFiles(history, problem)) return false;
        }
        if (!key && fs_.OpenRead(SignaturePath())) {
            problem = "the release is signed (" + SignaturePath() +
                      "); give --sign: launchers with a key built in refuse an unsigned description";
            return false;
        }

        std::optional<GameTree> tree = ScanGameTree(o_.treeDir, fs_, problem);
        if (!tree) return false;
        for (const std::string& name : tree->skipped)
            out_ << "note: " << name << " is left out: the launcher keeps its own\n";
        PlanRequest request{o_.version, o_.archive, tree->files};
        std::optional<ReleasePlan> plan = PlanRelease(history, request, problem);
        if (!plan) return false;
        for (const std::string& note : plan->notes) out_ << "note: " << note << "\n";
        for (const std::string& name : plan->removed)
            err_ << "warning: " << name << " is no longer in the tree, but players keep it: a release cannot "
                 << "delete files\n";

        fs_.MakeDirectory(Join(o_.releaseDir, "tzan"));
        fs_.MakeDirectory(Tzan("patch"));
        StagedFiles staged(fs_);
        uint64_t bytes = 0;
        std::vector<std::string> plainFiles = plan->plainItems;
        plainFiles.insert(plainFiles.end(), plan->rewritten.begin(), plan->rewritten.end());
        std::sort(plainFiles.begin(), plainFiles.end());
        plainFiles.erase(std::unique(plainFiles.begin(), plainFiles.end()), plainFiles.end());
        for (const std::string& name : plainFiles) {
            const std::string served = ServedPath(name);
            MakeParents(fs_, Tzan("patch"), served);
            if (!staged.Stage(Served(served), CopyChecked(fs_, Join(o_.treeDir, name), plan->target.at(name)), problem))
                return false;
            bytes += plan->target.at(name).size;
        }
        FileDigest archiveDigest;
        if (!plan->archiveName.empty()) {
            MakeParents(fs_, Tzan("patch"), plan->archiveName);
            if (!staged.Stage(Served(plan->archiveName),
                              [&](WritableFile& file, std::string& why) { return WriteArchive(*plan, file, archiveDigest, why); },
                              problem))
                return false;
            bytes += archiveDigest.size;
        }

        const std::string description = DescribeRelease(history, *plan, archiveDigest).Format();
        // The signature goes into place first and the description right after it: a new
        // description is never served beside an old signature.
        if (key) {
            std::optional<std::string> signature = SignRelease(*key, description, problem);
            if (!signature) {
                problem = o_.signKeyPath + ": " + problem;
                return false;
            }
            if (!staged.Stage(SignaturePath(), Bytes(*signature), problem)) return false;
        }
        if (!staged.Stage(Tzan(kPatchInfoFileName), Bytes(description), problem)) return false;
        if (!patchList.empty() && !staged.Stage(Tzan(kPatchListFileName), Bytes(patchList), problem)) return false;
        if (!staged.Commit(problem)) return false;

        const size_t files = plan->plainItems.size() + plan->archiveEntries.size();
        out_ << "published version " << plan->section << ": " << files << " new or changed file"
             << (files == 1 ? "" : "s") << " (" << plan->plainItems.size() << " plain";
        if (!plan->archiveName.empty())
            out_ << ", " << plan->archiveEntries.size() << " in " << plan->archiveName;
        out_ << "), " << bytes << " bytes written to " << Tzan("patch");
        if (!plan->rewritten.empty()) out_ << ", " << plan->rewritten.size() << " older item(s) now serve the new content";
        out_ << (key ? ", signed" : ", unsigned") << "\n";
        if (patchList.empty() && !fs_.OpenRead(Tzan(kPatchListFileName)))
            out_ << "note: there is no " << Tzan(kPatchListFileName) << " yet; give --base-url once so that launchers find "
                 << "the release\n";
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
        for (const std::string& name : plan.archiveEntries) {
            const std::string source = Join(o_.treeDir, name);
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

    // What is served must be what the description says, or the tree players have is not known.
    bool CheckServedFiles(const ReleaseHistory& history, std::string& problem) {
        auto check = [&](const std::string& name, const FileDigest& want) {
            const std::string path = Served(ServedPath(name));
            std::optional<FileDigest> got = HashFile(fs_, path);
            if (got && SameContent(*got, want)) return true;
            problem = got ? path + " differs from its hash line in PatchInfo.ini (changed by hand?)"
                          : path + " is listed in PatchInfo.ini but missing";
            return false;
        };
        for (const auto& [name, digest] : history.servedPlain)
            if (!check(name, digest)) return false;
        for (const auto& [name, digest] : history.archives)
            if (!check(name, digest)) return false;
        return true;
    }

    std::optional<std::string> NewPatchList(std::string& problem) {
        std::string news = o_.newsUrl;
        if (news.empty()) {
            const std::string existing = Tzan(kPatchListFileName);
            if (fs_.OpenRead(existing)) ReadPatchListValue(existing, kNewsUrlLine, news);
        }
        return PatchListText(o_.baseUrl, news, problem);
    }

    const PublishOptions& o_;
    FileSystem& fs_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

const char kPublishUsage[] =
    "usage: quorvel-publish --release DIR --tree GAME_DIR --version N [--sign KEY.pem] [--archive]\n"
    "                       [--base-url URL] [--news-url URL]\n"
    "  Adds version N to the patch server tree DIR (served at \"/\"), bringing every file of GAME_DIR\n"
    "  that is new or changed since the last version. --archive brings them in one patchNNN.zip;\n"
    "  --sign signs PatchInfo.ini with the ECDSA P-256 key; --base-url writes tzan/patch.txt for the\n"
    "  server reached at URL (news page: --news-url, else the one patch.txt names, else URL/tzan/news.html).\n";

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
        if (arg == "--help" || arg == "-h") {
            problem.clear();
            return std::nullopt;
        } else if (arg == "--release") {
            if (!value(options.releaseDir)) return std::nullopt;
        } else if (arg == "--tree") {
            if (!value(options.treeDir)) return std::nullopt;
        } else if (arg == "--sign") {
            if (!value(options.signKeyPath)) return std::nullopt;
        } else if (arg == "--base-url") {
            if (!value(options.baseUrl)) return std::nullopt;
        } else if (arg == "--news-url") {
            if (!value(options.newsUrl)) return std::nullopt;
        } else if (arg == "--archive") {
            options.archive = true;
        } else if (arg == "--version") {
            if (i + 1 >= argc || !ParseVersion(argv[i + 1], options.version)) {
                problem = "--version needs a whole number from 1 to 999999999";
                return std::nullopt;
            }
            ++i;
            haveVersion = true;
        } else {
            problem = "unknown argument " + arg;
            return std::nullopt;
        }
    }
    if (options.releaseDir.empty() || options.treeDir.empty() || !haveVersion) {
        problem = "--release, --tree and --version are required";
        return std::nullopt;
    }
    if (!options.newsUrl.empty() && options.baseUrl.empty()) {
        problem = "--news-url goes into patch.txt, which only --base-url writes";
        return std::nullopt;
    }
    return options;
}

std::optional<std::string> PatchListText(const std::string& baseUrl, const std::string& newsUrl, std::string& problem) {
    std::string base = baseUrl;
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string news = newsUrl.empty() ? base + "/tzan/news.html" : newsUrl;
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
