#include "patch/InstallCheck.h"

#include <set>

#include "common/SafeName.h"
#include "patch/Fetch.h"
#include "patch/SettingsStore.h"
#include "release/PatchListFile.h"
#include "release/ReleaseAcceptance.h"

namespace qr {
namespace {

std::string Summary(const char* what, const VerifyReport& report, const std::string& version) {
    int missing = 0, damaged = 0;
    for (const CheckedFile& p : report.problems) (p.check == FileCheck::Missing ? missing : damaged)++;
    std::string text = std::string(what) + ": " + std::to_string(report.checked) + " files of version " + version +
                       ", " + std::to_string(missing) + " missing, " + std::to_string(damaged) + " damaged";
    if (report.unchecked > 0) text += ", " + std::to_string(report.unchecked) + " present without a described digest";
    return text;
}

// With a key, a description that does not verify is not believed at all, as in a patch run: it is
// checked before anything of it is read or shown.
bool SignedReleaseAccepted(HttpSession& session, SettingsPlatform& settings, const std::string& infoUrl,
                           const std::string& description, const std::string& key, const LineSink& say) {
    const auto signature = FetchSmallBody({&session, infoUrl + kSignatureSuffix, kMaxSignatureBytes});
    SettingsStore versions(settings);
    versions.SetFile(kVersionFileName);
    const DescriptionAcceptance acceptance = AcceptDescription(
        description, signature.value_or(std::string()), key, versions.ReadString("VERSION", "version"), TodayUtc());
    if (!acceptance.accepted()) say(acceptance.reason);
    return acceptance.accepted();
}

// A signed release describes every file by its digest, and for a repair every archive it may fetch.
bool EverythingDescribed(const ReleaseManifest& manifest, bool repair, const LineSink& say) {
    bool allDescribed = true;
    std::set<std::string> archives;
    for (const ManifestFile& file : manifest.files) {
        if (!file.hasDigest) {
            say("refused  " + file.name + " (no digest line)");
            allDescribed = false;
        }
        if (repair && file.fromArchive) archives.insert(file.sources.begin(), file.sources.end());
    }
    for (const std::string& archive : archives)
        if (!manifest.served.count(archive)) {
            say("refused  " + archive + " (no digest line)");
            allDescribed = false;
        }
    return allDescribed;
}

}  // namespace

int RunInstallCheck(HttpSession& session, FileSystem& fs, SettingsPlatform& settings,
                    const InstallCheckOptions& options, const LineSink& sink) {
    // Names come from the network: none may drive the terminal.
    const LineSink say = [&sink](const std::string& line) { sink(PrintableText(line)); };
    std::string infoUrl, baseUrl;
    ReadPatchListValue(options.patchListPath, kPatchInfoUrlLine, infoUrl);
    ReadPatchListValue(options.patchListPath, kPatchBaseUrlLine, baseUrl);
    const std::optional<std::string> description =
        FetchSmallBody({&session, infoUrl, kMaxDescriptionBytes, options.runFlag});
    if (!description) {
        say("the patch description could not be fetched" + (infoUrl.empty() ? std::string() : " from " + infoUrl));
        return 1;
    }
    const bool keyed = !options.releaseKeyPem.empty();
    if (keyed && !SignedReleaseAccepted(session, settings, infoUrl, *description, options.releaseKeyPem, say))
        return 1;
    const ReleaseManifest manifest = BuildReleaseManifest(*description);
    if (manifest.version == kAbsent) {
        say("the patch description names no version");
        return 1;
    }
    for (const std::string& name : manifest.refused) say("refused  " + name + " (leaves the install directory)");
    if (keyed && !EverythingDescribed(manifest, options.repair, say)) return 1;

    VerifyReport report = VerifyInstall(fs, options.installDir, manifest);
    for (const CheckedFile& problem : report.problems) say(DescribeProblem(problem));
    const bool describedSafely = manifest.refused.empty();
    if (!options.repair) {
        say(Summary("verify", report, manifest.version));
        return report.Clean() && describedSafely ? 0 : 1;
    }
    if (report.Clean()) {
        say(Summary("repair", report, manifest.version) + "; nothing to fetch");
        return describedSafely ? 0 : 1;
    }

    RepairContext context;
    context.session = &session;
    context.fs = &fs;
    context.installDir = options.installDir;
    context.baseUrl = baseUrl;
    context.runFlag = options.runFlag;
    context.say = say;
    context.progress = options.progress;
    context.checkEntries = keyed;
    const RepairResult repaired = RepairInstall(context, manifest, report);
    report = VerifyInstall(fs, options.installDir, manifest);
    for (const CheckedFile& problem : report.problems) say("still " + DescribeProblem(problem));
    const bool stopped = options.runFlag && !options.runFlag->load();
    // Only an install that now holds exactly the described release is at its version.
    if (report.Clean() && describedSafely && !stopped) {
        SettingsStore versionStore(settings);
        versionStore.SetFile(kVersionFileName);
        versionStore.WriteString("VERSION", "version", manifest.version);
    }
    say(Summary("repair", report, manifest.version) + "; " + std::to_string(repaired.fetched) + " fetched, " +
        std::to_string(repaired.failed) + " failed");
    return report.Clean() && describedSafely && !stopped ? 0 : 1;
}

}  // namespace qr
