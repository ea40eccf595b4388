// What a patch description says an install at its version holds: for every name that lands in the
// install directory, its SHA-256 and size and the list item that brings it (the plain file itself,
// or the archives of the version whose contents name it). A later version wins over an earlier one.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "patch/PatchList.h"
#include "patch/ReleaseFormat.h"

namespace qr {

struct ManifestFile {
    std::string name;            // as it lands, relative to the install directory
    bool hasDigest = false;      // false: an old-style description; only presence can be checked
    FileDigest digest;
    bool fromArchive = false;
    std::vector<std::string> sources;  // list names that bring it: itself, or its version's archives
    int version = 0;
};

struct ReleaseManifest {
    std::string version;                          // the description's [VERSION] version, "NULL" when absent
    std::vector<ManifestFile> files;              // sorted by name
    std::map<std::string, FileDigest> served;     // list name -> digest of the bytes served for it
    std::vector<std::string> refused;             // names that would leave the install directory
};

ReleaseManifest BuildReleaseManifest(std::string_view patchInfoText);

}  // namespace qr
