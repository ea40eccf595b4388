// The release already on the server, checked before a publish builds on it: its description is
// the one the operator signed, and every served file and archive entry is what it describes. A
// hacked mirror that rewrites both a file and its hash line is caught here, before its lines are
// carried forward under a fresh signature.
#pragma once

#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "release/ReleaseDescription.h"

namespace qr::publish {

struct ServedReleaseRequest {
    std::string tzanDir;         // DIR/tzan
    std::string signKeyPem;      // empty: an unsigned publish
    std::string keyPath;         // for messages
    bool adoptUnsigned = false;  // a first signature over an unsigned release is wanted
    std::string stateDir;        // empty: no copy kept outside the served tree
};

struct CheckedRelease {
    std::optional<std::string> description;  // absent: no release yet
    ReleaseHistory history;
};

// Absent, with the file and the reason in `problem`, when the release must not be built on.
std::optional<CheckedRelease> ReadServedRelease(const ServedReleaseRequest& request, FileSystem& fs, std::string& problem);

// Keeps the signed description and its signature in the state directory after a publish.
bool KeepSignedState(const std::string& stateDir, const std::string& description, const std::string& signature,
                     FileSystem& fs, std::string& problem);

std::optional<std::string> ReadWholeFile(FileSystem& fs, const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& relative);

}  // namespace qr::publish
