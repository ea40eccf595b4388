// Deltas and whole compressed files in the patch description, for launchers that know them. Per version
// "NNN.deltas.0", "NNN.deltas.1", ... (at most kDeltaLinesPerSection lines each) describe the newest
// content of names, one line each, the name as key:
//
//   data/a.dat=<sha256> <size>;zstd <sha256> <size> <served name>;zstd-delta <sha256> <size> <sha256> <size> <served name>
//
// The head is the name's newest content; "zstd" is that content compressed whole; "zstd-delta" rebuilds
// it from the player's copy with the first digest (source) through the served file with the second.
// Only the sections of the described version count; old launchers read none of them.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "release/ReleaseDescription.h"

namespace qr {

enum class DeltaMethod { ZstdSegmented };  // archive/DeltaDecoder's ApplyDelta

struct DescribedDelta {
    FileDigest source;       // the player's file it applies to
    FileDigest served;       // the delta file's bytes
    DeltaMethod method = DeltaMethod::ZstdSegmented;
    std::string servedName;  // below the patch base (IsDeltaServedName)
};

struct CompressedWhole {
    FileDigest served;       // the zstd file's bytes
    std::string servedName;
};

struct NameDeltas {
    FileDigest newest;                      // equals the name's signed hash or contents line
    std::vector<DescribedDelta> deltas;     // in line order, at most kMaxDeltasPerName
    std::optional<CompressedWhole> whole;
};

std::string DeltaSectionName(const std::string& versionSection, size_t chunk);

// name -> what the description offers for it. Lines that are malformed, name a file the launcher may
// not write, serve under another shape of name, or whose head differs from the name's signed digest
// are left out whole; an unknown or malformed record leaves out only itself.
std::map<std::string, NameDeltas> ReadDeltaCatalog(std::string_view patchInfoText);
// The same over a parsed description and its manifest (name -> signed newest digest).
std::map<std::string, NameDeltas> ReadDeltaCatalog(const DescriptionText& ini, const ReleaseManifest& manifest);

std::string FormatDeltaLine(const NameDeltas& deltas);
std::optional<NameDeltas> ParseDeltaLine(std::string_view value);

// Replaces every delta section of the description with `catalog` under the version `versionSection`.
void WriteDeltaCatalog(DescriptionText& ini, const std::string& versionSection,
                       const std::map<std::string, NameDeltas>& catalog);

}  // namespace qr
