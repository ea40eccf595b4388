// Rebuilding a file from a delta and the old copy, and unpacking a whole zstd-compressed file.
// Both stream: the new file is written as it is decoded, never held whole in memory. Neither
// closes `out`: the caller keeps the result only when the outcome is ok and its digest matches.
#pragma once

#include <cstdint>

#include "archive/DeltaFormat.h"
#include "platform/FileSystem.h"

namespace qr {

struct DeltaLimits {
    unsigned windowLogMax = kDeltaWindowLogMax;  // frames needing a larger window are refused
    uint64_t maxOldRegion = kDeltaMaxOldRegion;  // old bytes held in memory for one segment
    uint64_t maxNewSize = UINT64_MAX;            // e.g. the size the release describes
};

// Memory: one old region, one segment's window and small buffers (about 100 MB at the defaults).
DeltaOutcome ApplyDelta(ReadableFile& oldFile, ReadableFile& delta, WritableFile& out,
                        const DeltaLimits& limits = {});

// One or more plain zstd frames, as `zstd` writes them.
DeltaOutcome DecompressFile(ReadableFile& compressed, WritableFile& out, const DeltaLimits& limits = {});

}  // namespace qr
