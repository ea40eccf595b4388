#include "patch/InstallRepair.h"

#include <algorithm>
#include <map>
#include <set>

#include "archive/ArchiveExtraction.h"
#include "patch/Fetch.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

class Repairer {
public:
    Repairer(RepairContext& context, const ReleaseManifest& manifest) : c_(context), manifest_(manifest) {}

    void Plain(const ManifestFile& file) {
        if (Fetch(file.name, &file)) ++result_.fetched;
        else ++result_.failed;
    }

    // Archives that may hold `entries`, tried in list order until every entry is back.
    void FromArchives(std::vector<const ManifestFile*> entries) {
        std::set<std::string> tried;
        while (!entries.empty() && running()) {
            std::string archive;
            for (const std::string& source : entries.front()->sources)
                if (!tried.count(source)) {
                    archive = source;
                    break;
                }
            if (archive.empty()) {
                // No archive of its version brought it intact.
                c_.say("failed   " + entries.front()->name + " (not in the archives of its version)");
                ++result_.failed;
                entries.erase(entries.begin());
                continue;
            }
            tried.insert(archive);
            std::set<std::string> wanted;
            for (const ManifestFile* e : entries)
                for (const std::string& source : e->sources)
                    if (source == archive) wanted.insert(e->name);
            if (!Unpack(archive, wanted)) {
                ++result_.failed;
                continue;
            }
            ++result_.fetched;
            std::vector<const ManifestFile*> left;
            for (const ManifestFile* e : entries) {
                const FileCheck check = CheckInstalledFile(*c_.fs, c_.installDir + e->name, *e);
                if (check != FileCheck::Intact && check != FileCheck::Unchecked)
                    left.push_back(e);
                else if (wanted.count(e->name))
                    c_.say("restored " + e->name + " from " + archive);
            }
            entries.swap(left);
        }
    }

    RepairResult result() const { return result_; }

private:
    bool running() const { return !c_.runFlag || c_.runFlag->load(); }

    const FileDigest* ServedDigest(const std::string& name, const ManifestFile* file) const {
        auto it = manifest_.served.find(name);
        if (it != manifest_.served.end()) return &it->second;
        return file && file->hasDigest ? &file->digest : nullptr;
    }

    // Fetches list item `name` over its target in the install directory, as a patch run does.
    bool Fetch(const std::string& name, const ManifestFile* file) {
        if (!running()) return false;
        c_.fs->ChangeDirectory(c_.installDir.empty() ? "." : c_.installDir);
        FetchItemRequest request;
        request.session = c_.session;
        request.fs = c_.fs;
        request.name = name;
        request.address = ServerAddress(c_.baseUrl, name);
        request.target = LocalTargetPath(c_.installDir, name);
        request.runFlag = c_.runFlag;
        request.expected = ServedDigest(name, file);
        long long total = -1;
        request.onStarted = [&total](long long, long long whole) { total = whole; };
        if (c_.progress)
            request.onChunk = [this, &name, &total](long long received) { c_.progress(name, received, total); };
        const FetchResult result = FetchItem(request);
        if (result.status != DownloadStatus::Complete) return Failed(name, result.reason);
        c_.say("fetched  " + name);
        return true;
    }

    bool Unpack(const std::string& archive, const std::set<std::string>& wanted) {
        if (!Fetch(archive, nullptr)) return false;
        const std::string path = LocalTargetPath(c_.installDir, archive);
        c_.fs->ChangeDirectory(c_.installDir.empty() ? "." : c_.installDir);
        ExtractNaming naming = LauncherExtractNaming();
        if (c_.checkEntries) naming.check = [this](const std::string& name, const std::string& written) {
            return EntryRefusal(name, written);
        };
        ExtractOutcome outcome = ExtractArchiveEntries(
            path, naming, [&wanted](const std::string& name) { return wanted.count(name) != 0; }, c_.runFlag, *c_.fs);
        c_.fs->Remove(path);
        if (outcome.status == ExtractStatus::Failed) return Failed(archive, outcome.reason);
        return outcome.status == ExtractStatus::Complete;
    }

    // An entry lands only as the release's contents describe it.
    std::string EntryRefusal(const std::string& name, const std::string& written) const {
        auto it = std::lower_bound(manifest_.files.begin(), manifest_.files.end(), name,
                                   [](const ManifestFile& f, const std::string& n) { return f.name < n; });
        if (it == manifest_.files.end() || it->name != name || !it->hasDigest) return "it has no contents line";
        if (CheckInstalledFile(*c_.fs, written, *it) != FileCheck::Intact) return "it differs from its contents line";
        return {};
    }

    bool Failed(const std::string& name, const std::string& why) {
        c_.say("failed   " + name + " (" + why + ")");
        return false;
    }

    RepairContext& c_;
    const ReleaseManifest& manifest_;
    RepairResult result_;
};

}  // namespace

RepairResult RepairInstall(RepairContext& context, const ReleaseManifest& manifest, const VerifyReport& report) {
    Repairer repairer(context, manifest);
    // Entries of the same archives are unpacked from one download.
    std::map<std::vector<std::string>, std::vector<const ManifestFile*>> byArchives;
    for (const CheckedFile& problem : report.problems) {
        if (problem.file->fromArchive)
            byArchives[problem.file->sources].push_back(problem.file);
        else
            repairer.Plain(*problem.file);
    }
    for (auto& [archives, entries] : byArchives) repairer.FromArchives(entries);
    return repairer.result();
}

}  // namespace qr
