// Deciding what a new version brings, and proving it: for every version a player may have (each
// published one, and an install older than all of them) the launcher's own list rules are played
// through - each name fetched once where it first appears, archives unpacked where they stand - and
// every file must end with the new tree's content. Names for which a plain item cannot guarantee
// that go into the version's archive, which stands last in every player's list.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "release/ReleaseDescription.h"

namespace qr::publish {

struct PlanRequest {
    int version = 0;
    bool archiveAll = false;                         // --archive
    std::map<std::string, FileDigest> tree;          // the new game tree
};

struct ReleasePlan {
    int version = 0;
    std::string section;                             // "104"
    std::vector<std::string> plainItems;             // sorted
    std::string archiveName;                         // "patch104.zip", or empty
    std::vector<std::string> archiveEntries;         // sorted
    std::vector<std::string> rewritten;              // names listed plain before whose served file changes
    std::vector<std::string> removed;                // in the published tree, no longer in the new one
    std::map<std::string, FileDigest> target;        // every file as players must end up with it
    std::vector<std::string> notes;                  // why names went into the archive
};

std::optional<ReleasePlan> PlanRelease(const ReleaseHistory& history, const PlanRequest& request,
                                       std::string& problem);

// The description with `plan` added: version sections, hash lines (older lines of rewritten names
// too), contents and [VERSION]. `archiveDigest` describes the archive's bytes when there is one.
DescriptionText DescribeRelease(const ReleaseHistory& history, const ReleasePlan& plan, const FileDigest& archiveDigest);

}  // namespace qr::publish
