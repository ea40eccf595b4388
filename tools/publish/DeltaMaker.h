// The deltas and whole compressed files of a new version: for each changed name its newest content
// compressed whole, and a delta to it from each of its last K distinct older contents (never chained),
// made on every core, each checked by decoding it again before it is staged. The compressed files
// stay served under their content's digest, so the next publish finds a name's older contents there.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "release/DeltaDescription.h"
#include "tools/publish/StagedFiles.h"

namespace qr::publish {

// Files smaller than this travel whole: a delta's line costs every player about 300 bytes of
// description and the request a round trip, which a file this small barely outweighs. A name that
// comes inside the version's archive still gets its compressed whole, so that a new launcher never
// fetches a whole archive for it.
inline constexpr uint64_t kMinDeltaFileSize = 16 << 10;

struct DeltaRequest {
    FileSystem* fs = nullptr;
    std::string treeDir;
    std::string patchDir;                             // DIR/tzan/patch
    const ReleaseHistory* history = nullptr;
    std::string previousDescription;                  // empty for a first publish
    const std::map<std::string, FileDigest>* target = nullptr;  // every name at its newest content
    int keep = 3;                                     // K: older contents per name; 0: nothing new is made
    std::function<void(size_t done, size_t total)> progress;
    // The names the new version's archive brings, sorted (it lands them after any plain item).
    const std::vector<std::string>* archived = nullptr;
};

struct DeltaSummary {
    size_t wholes = 0;
    uint64_t wholeBytes = 0;
    size_t deltas = 0;
    uint64_t deltaBytes = 0;
    size_t notSmaller = 0;    // made, but not clearly smaller than the compressed whole: dropped
    size_t noOldBytes = 0;    // an older content whose bytes the release no longer holds
};

struct DeltaOutput {
    std::map<std::string, NameDeltas> catalog;        // every line of the new version
    DeltaSummary summary;                             // what this publish made
};

// Stages what it makes into `staged`; absent with `problem` when a file cannot be made or checked.
std::optional<DeltaOutput> MakeReleaseDeltas(const DeltaRequest& request, StagedFiles& staged, std::string& problem);

}  // namespace qr::publish
