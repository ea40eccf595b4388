// The operator's game directory: every regular file under it by its name as the launcher will
// write it ("/" separators), with its SHA-256 and size.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "release/ReleaseDescription.h"
#include "platform/FileSystem.h"

namespace qr::publish {

struct GameTree {
    std::map<std::string, FileDigest> files;
    std::vector<std::string> skipped;  // launcher-owned files left out
};

std::optional<GameTree> ScanGameTree(const std::string& root, FileSystem& fs, std::string& problem);

}  // namespace qr::publish
