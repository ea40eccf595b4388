#include "patch/InstallRepair.h"

#include <map>
#include <set>

#include "archive/ArchiveExtraction.h"
#include "patch/Download.h"
#include "patch/PartialDownload.h"
#include "platform/FileError.h"
#include "platform/HttpText.h"
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
        const std::string address = ServerAddress(c_.baseUrl, name);
        const std::string target = LocalTargetPath(c_.installDir, name);
        c_.fs->ChangeDirectory(c_.installDir.empty() ? "." : c_.installDir);
        MakeParentDirectories(name, *c_.fs);
        OpenedDownload opened = OpenResumable(*c_.session, *c_.fs, address, target, CurrentUnixTime());
        if (!opened.response) return Failed(name, "the server could not be reached");
        const int status = opened.response->StatusCode();
        if (status < 200 || status > 299) return Failed(name, "the server answered " + std::to_string(status));
        long long announced = -1;
        if (auto text = opened.response->ContentLengthText(); text && !text->empty())
            if (auto value = ParseContentLength(*text)) announced = static_cast<long long>(*value);
        const ResumeContext resume{address, opened.resumeFrom, opened.keptValidator};
        const long long total = announced < 0 ? -1 : opened.resumeFrom + announced;
        ChunkObserver onChunk;
        if (c_.progress) onChunk = [this, &name, total](long long received) { c_.progress(name, received, total); };
        DownloadResult result = DownloadToFile(*opened.response, *c_.fs, target, announced, c_.runFlag, onChunk,
                                               ServedDigest(name, file), &resume);
        switch (result.status) {
            case DownloadStatus::Complete: break;
            case DownloadStatus::Mismatch: return Failed(name, "the bytes served are not the described ones");
            case DownloadStatus::Stopped: return Failed(name, "stopped");
            case DownloadStatus::Broken: return Failed(name, "the transfer broke");
            case DownloadStatus::WriteFailed:
                return Failed(name, "the file could not be written (" + DescribeFileError(result.error) + ")");
            case DownloadStatus::ReplaceFailed:
                return Failed(name, "the file could not be replaced (" + DescribeFileError(result.error) + ")");
        }
        c_.say("fetched  " + name);
        return true;
    }

    bool Unpack(const std::string& archive, const std::set<std::string>& wanted) {
        if (!Fetch(archive, nullptr)) return false;
        const std::string path = LocalTargetPath(c_.installDir, archive);
        c_.fs->ChangeDirectory(c_.installDir.empty() ? "." : c_.installDir);
        ExtractOutcome outcome = ExtractArchiveEntries(
            path, LauncherExtractNaming(), [&wanted](const std::string& name) { return wanted.count(name) != 0; },
            c_.runFlag, *c_.fs);
        c_.fs->Remove(path);
        if (outcome.status == ExtractStatus::Failed) return Failed(archive, outcome.reason);
        return outcome.status == ExtractStatus::Complete;
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
