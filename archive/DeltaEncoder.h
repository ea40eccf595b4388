// Making deltas and whole compressed files, for the publisher (never linked into the launcher).
// Reentrant: each call owns its compressor, so files may be made on several threads at once.
#pragma once

#include <cstdint>

#include "archive/DeltaFormat.h"
#include "platform/FileSystem.h"

namespace qr {

struct DeltaMakeOptions {
    int level = 19;
    // Smaller values only for tests; larger ones are refused (launchers would refuse the delta).
    uint64_t segmentSize = kDeltaSegmentSize;
    uint64_t regionMargin = kDeltaRegionMargin;
};

// The delta that rebuilds `newFile` from `oldFile` (see DeltaFormat.h), zstd long mode.
DeltaOutcome MakeDelta(ReadableFile& oldFile, ReadableFile& newFile, WritableFile& out,
                       const DeltaMakeOptions& options = {});

// The whole file as one plain zstd frame with its size and checksum.
DeltaOutcome CompressFile(ReadableFile& in, WritableFile& out, int level = 19);

}  // namespace qr
