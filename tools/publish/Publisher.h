// One publish: reads the release in DIR, compares the game tree with what players have, and adds
// the next version to DIR in one step (nothing of it is visible until all of it is written).
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "platform/FileSystem.h"

namespace qr::publish {

struct PublishOptions {
    std::string releaseDir;
    std::string treeDir;
    int version = 0;
    std::string signKeyPath;  // empty: unsigned
    bool archive = false;
    std::string baseUrl;      // empty: patch.txt untouched
    std::string newsUrl;
    int expiresDays = 30;         // the description is good through today plus this
    std::string stateDir;         // empty: no signed copy kept outside the release
    bool adoptUnsigned = false;   // sign over an unsigned release
    bool allowEmpty = false;      // publish a version that brings nothing
    bool refresh = false;         // re-sign the current description with a new expiry date
    std::string baseInstallDir;   // write what an installer lays down, and nothing else
    bool progress = false;        // a terminal watches: show how far long steps are
    int deltas = 3;               // older contents per changed name that get a delta; 0: none
};

// Absent with `problem` set for a command line that cannot be run; "--help" sets `problem` empty.
std::optional<PublishOptions> ParsePublishArguments(int argc, const char* const* argv, std::string& problem);
extern const char kPublishUsage[];

// 0 published, 1 refused or failed (DIR unchanged). Notes and the summary go to `out`, warnings and
// the reason of a refusal to `err`.
int Publish(const PublishOptions& options, FileSystem& fs, std::ostream& out, std::ostream& err);

// The patch list for a release served at `baseUrl`; absent (with `problem`) when it would not fit in
// the bytes the launcher reads.
std::optional<std::string> PatchListText(const std::string& baseUrl, const std::string& newsUrl, std::string& problem);

}  // namespace qr::publish
