// Unpacking a whole patch archive into the tree under the current directory.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/FileSystem.h"

namespace qr {

enum class ExtractStatus { Complete, Stopped, Failed };

struct ExtractOutcome {
    ExtractStatus status = ExtractStatus::Complete;
    std::string reason;  // names the entry and what was expected and found
};

// Extracts every entry in central directory order, each through a temporary file that replaces its
// target only once the entry was read whole and its CRC matched. `doneOut` (1-based entry number)
// and `totalOut` are written before each entry's data; `runFlag` is tested between entries.
ExtractOutcome ExtractArchive(const std::string& archivePath, const std::atomic<bool>* runFlag,
                              std::atomic<int>* doneOut, std::atomic<int>* totalOut,
                              FileSystem& fs = SystemFileSystem());

// The same for the entries `wanted` accepts (by name as it stands in the archive); the others are
// left alone. A repair unpacks only what is damaged or missing.
using EntryFilter = std::function<bool(const std::string& name)>;
ExtractOutcome ExtractArchiveEntries(const std::string& archivePath, const EntryFilter& wanted,
                                     const std::atomic<bool>* runFlag, FileSystem& fs = SystemFileSystem());

// Creates every directory prefix of `name` ("/" or "\" ends one; the last component is not a
// directory unless the name ends in a separator). 1 when all exist or were made, 0 at the first
// that could not be made, and 0 for names of 512 bytes or more.
int MakeParentDirectories(const std::string& name, FileSystem& fs = SystemFileSystem());

}  // namespace qr
