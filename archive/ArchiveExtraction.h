// Unpacking a whole patch archive into the tree under the current directory.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "archive/KnownDirectories.h"
#include "platform/FileSystem.h"

namespace qr {

enum class ExtractStatus { Complete, Stopped, Failed };

struct ExtractOutcome {
    ExtractStatus status = ExtractStatus::Complete;
    std::string reason;  // names the entry and what was expected and found
};

// What the caller's release format says about entry names: each entry is written to its name plus
// `tempSuffix` first, and the entries `refusal` names a reason for are refused (the reader's own
// safety rules come first).
struct ExtractNaming {
    std::string tempSuffix;
    std::function<std::string(std::string_view name)> refusal;  // empty when the name may land
    // Optional: told each entry's landing name and its written temporary before it replaces anything;
    // a reason refuses the entry (its temporary goes, the existing file stays).
    std::function<std::string(const std::string& name, const std::string& writtenPath)> check;
};

// Extracts every entry, on as many threads as the machine has cores (at least two), each through a
// temporary file that replaces its target only once the entry was read whole and its CRC matched.
// Entries of one name are extracted in central directory order, so the later one wins. `totalOut`
// receives the entry count and `doneOut` the number of entries started so far (it only grows and
// reaches the total); `runFlag` is tested before each entry is started: the entries in flight are
// finished and no new one starts. Files are written for the next durable barrier
// (FileSystem::MakeDurable), not flushed one by one.
ExtractOutcome ExtractArchive(const std::string& archivePath, const ExtractNaming& naming,
                              const std::atomic<bool>* runFlag,
                              std::atomic<int>* doneOut, std::atomic<int>* totalOut,
                              FileSystem& fs = SystemFileSystem());

// The same for the entries `wanted` accepts (by the name they land under); the others are
// left alone. A repair unpacks only what is damaged or missing.
using EntryFilter = std::function<bool(const std::string& name)>;
ExtractOutcome ExtractArchiveEntries(const std::string& archivePath, const ExtractNaming& naming,
                                     const EntryFilter& wanted, const std::atomic<bool>* runFlag,
                                     FileSystem& fs = SystemFileSystem());

// Creates every directory prefix of `name` ("/" or "\" ends one; the last component is not a
// directory unless the name ends in a separator). 1 when all exist or were made, 0 at the first
// that could not be made, and 0 for names of 512 bytes or more. Prefixes in `known` are not made
// again; those made or found are added to it.
int MakeParentDirectories(const std::string& name, FileSystem& fs = SystemFileSystem(),
                          KnownDirectories* known = nullptr);

}  // namespace qr
