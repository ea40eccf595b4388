#include "patch/InstallCheck.h"

#include "patch/IniText.h"
#include "patch/PatchList.h"
#include "patch/ReleaseCheck.h"
#include "patch/SettingsStore.h"
#include "patch/TransferLimits.h"
#include "platform/HttpText.h"

namespace qr {
namespace {

constexpr size_t kDescriptionLimit = 64 << 20;

std::string Summary(const char* what, const VerifyReport& report, const std::string& version) {
    int missing = 0, damaged = 0;
    for (const CheckedFile& p : report.problems) (p.check == FileCheck::Missing ? missing : damaged)++;
    std::string text = std::string(what) + ": " + std::to_string(report.checked) + " files of version " + version +
                       ", " + std::to_string(missing) + " missing, " + std::to_string(damaged) + " damaged";
    if (report.unchecked > 0) text += ", " + std::to_string(report.unchecked) + " present without a described digest";
    return text;
}

// With a key, a description that does not verify is not believed at all, as in a patch run.
bool SignedReleaseAccepted(HttpSession& session, SettingsPlatform& settings, const std::string& infoUrl,
                           const std::string& description, const ReleaseManifest& manifest, const std::string& key,
                           const LineSink& say) {
    const auto signature = FetchSmallBody(session, infoUrl + kSignatureSuffix, kMaxSignatureBytes);
    if (!signature || !DescriptionSignatureValid(description, *signature, key)) {
        say("the patch description's signature does not verify");
        return false;
    }
    SettingsStore versions(settings);
    versions.SetFile(kVersionFileName);
    const std::string installed = versions.ReadString("VERSION", "version");
    const std::string expires = IniLookup(description, "VERSION", "expires").value_or(kAbsent);
    switch (CheckSignedRelease(installed, manifest.version, expires, TodayUtc())) {
        case ReleaseRefusal::None: break;
        case ReleaseRefusal::LowerVersion:
            say("refused: the description's version " + manifest.version + " is below the installed " + installed);
            return false;
        case ReleaseRefusal::Expired:
        case ReleaseRefusal::MalformedExpiry:
            say("refused: the description has expired (" + expires + ")");
            return false;
    }
    bool allDescribed = true;
    for (const ManifestFile& file : manifest.files)
        if (!file.hasDigest) {
            say("refused  " + file.name + " (no digest line)");
            allDescribed = false;
        }
    return allDescribed;
}

}  // namespace

std::optional<std::string> FetchSmallBody(HttpSession& session, const std::string& url, size_t limit) {
    auto response = url.empty() ? nullptr : session.Send(url, SmallDocumentRequest(limit));
    if (!response || response->StatusCode() < 200 || response->StatusCode() > 299) return std::nullopt;
    std::optional<uint64_t> announced;
    if (auto text = response->ContentLengthText(); text && !text->empty()) {
        announced = ParseContentLength(*text);
        if (!announced || *announced > limit) return std::nullopt;
    }
    std::string body;
    char chunk[kHttpChunkSize];
    for (;;) {
        const ReadResult read = response->Read(chunk, sizeof chunk);
        if (read.status == ReadStatus::End) break;
        if (read.status == ReadStatus::Error || body.size() + read.count > limit) return std::nullopt;
        body.append(chunk, read.count);
    }
    if (announced && body.size() != *announced) return std::nullopt;
    return body;
}

int RunInstallCheck(HttpSession& session, FileSystem& fs, SettingsPlatform& settings,
                    const InstallCheckOptions& options, const LineSink& say) {
    std::string infoUrl, baseUrl;
    ReadPatchListValue(options.patchListPath, kPatchInfoUrlLine, infoUrl);
    ReadPatchListValue(options.patchListPath, kPatchBaseUrlLine, baseUrl);
    const std::optional<std::string> description = FetchSmallBody(session, infoUrl, kDescriptionLimit);
    if (!description) {
        say("the patch description could not be fetched" + (infoUrl.empty() ? std::string() : " from " + infoUrl));
        return 1;
    }
    const ReleaseManifest manifest = BuildReleaseManifest(*description);
    if (manifest.version == kAbsent) {
        say("the patch description names no version");
        return 1;
    }
    for (const std::string& name : manifest.refused) say("refused  " + name + " (leaves the install directory)");
    if (!options.releaseKeyPem.empty() &&
        !SignedReleaseAccepted(session, settings, infoUrl, *description, manifest, options.releaseKeyPem, say))
        return 1;

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
