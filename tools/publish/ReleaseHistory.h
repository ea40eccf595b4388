// What the versions already published bring, read back from the patch description's own sections,
// and the tree that players on the newest version have.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "patch/ReleaseFormat.h"
#include "tools/publish/ReleaseIni.h"

namespace qr::publish {

bool SameContent(const FileDigest& a, const FileDigest& b);

struct PublishedVersion {
    int number = 0;
    std::string section;                    // "101"
    std::vector<std::string> items;         // in key order, as the launcher reads them
    std::vector<FileDigest> itemDigests;    // parallel to items
    std::map<std::string, FileDigest> contents;  // what its archive lands (empty without one)
    std::string archive;                    // its archive item, if any
};

struct ReleaseHistory {
    ReleaseIni ini;
    std::vector<PublishedVersion> versions;      // ascending
    std::map<std::string, FileDigest> tree;      // name -> content on the newest version
    std::map<std::string, FileDigest> servedPlain;  // plain item name -> bytes served for it
    std::map<std::string, FileDigest> archives;  // archive item name -> its bytes
    std::map<std::string, std::map<std::string, FileDigest>> archiveContents;
    bool empty() const { return versions.empty(); }
    int lastVersion() const { return versions.empty() ? 0 : versions.back().number; }
};

// Reads a patch description; `problem` says why one cannot be built on (hand-written, damaged).
std::optional<ReleaseHistory> ReadReleaseHistory(const std::string& patchInfoText, std::string& problem);

}  // namespace qr::publish
