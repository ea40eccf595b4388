// The patch list ("patch.txt"), the list of files a run fetches, and how names become addresses and
// paths.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qr {

// The patch list's file name in the install directory.
inline constexpr const char kPatchListName[] = "patch.txt";

// Lines of the patch list, counted from 0.
inline constexpr int kPatchInfoUrlLine = 1;
inline constexpr int kNewsUrlLine = 2;
inline constexpr int kPatchBaseUrlLine = 3;

// The value of `line` (text after its first "=") within the first 200 bytes of the file; `dest` is
// left unchanged when the file cannot be read or the line has no "=" there.
void ReadPatchListValue(const std::string& patchListPath, int line, std::string& dest);

// The compiled-in patch list address, or QUORVEL_PATCH_LIST_URL when that is set and the build
// honours it (QR_PATCH_LIST_OVERRIDE).
std::string PatchListAddress();

// Decimal reading of a version text (atoi rules) and its section name ("%0.3d").
int VersionNumber(const std::string& version);
std::string VersionSectionName(int version);

// Where a name of the download list first appears: section "NNN", key "i".
struct ItemOrigin {
    std::string section;
    std::string key;
};

struct DownloadListResult {
    std::vector<std::string> names;        // distinct, in first-appearance order
    std::vector<ItemOrigin> origins;       // parallel to names
    bool remoteVersionMissing = false;     // the description names no version ("NULL")
    std::string refusedName;               // first name that would leave the install directory
};

// lookup(section, key) reads "PatchInfo.ini" and yields "NULL" for a missing key.
using PatchInfoLookup = std::function<std::string(const std::string& section, const std::string& key)>;
DownloadListResult BuildDownloadList(const std::string& installedVersion, const std::string& remoteVersion,
                                     const PatchInfoLookup& lookup);

// Name rules.
std::string ServerAddress(const std::string& patchBaseUrl, const std::string& name);  // ".map" -> ".bap"
std::vector<std::string> DirectoriesToCreate(const std::string& name);  // ".\a\", ".\a/b\"
std::string LocalTargetPath(const std::string& installDir, const std::string& name);
bool IsArchiveAddress(const std::string& serverAddress);  // ends in ".zip", case-sensitive
std::string ArchiveBaseName(const std::string& name);

}  // namespace qr
