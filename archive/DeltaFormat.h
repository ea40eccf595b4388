// The delta file: how a changed file's new content is rebuilt from the player's old copy.
//
//   header record    old file size, new file size
//   segment record   old offset, old length, new length      } once per segment of the new file,
//   zstd frame       the segment, with that old region as its }  in order
//                    prefix (checksummed, content size set)
//
// Records are zstd skippable frames, so `zstd -d --patch-from=OLD` reads a one-segment delta too.
// Cutting the new file into segments keeps a decoder's memory bounded for any file size: it holds
// only one old region and one segment's window at a time.
// A whole compressed file (no old copy) is plain zstd frames, nothing of ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace qr {

// New bytes per segment, and how far before and after a segment's own position its old region
// reaches (content that moved by less still matches).
constexpr uint64_t kDeltaSegmentSize = 32ull << 20;
constexpr uint64_t kDeltaRegionMargin = 16ull << 20;
// The most old bytes one segment refers to, and the decoder's window bound: a region plus its
// segment (96 MiB) fits in 2^27.
constexpr uint64_t kDeltaMaxOldRegion = kDeltaSegmentSize + 2 * kDeltaRegionMargin;
constexpr unsigned kDeltaWindowLogMax = 27;

constexpr size_t kDeltaRecordSize = 32;  // magic, payload length, 24 bytes of payload

struct DeltaHeader {
    uint64_t oldSize = 0;
    uint64_t newSize = 0;
};

struct DeltaSegment {
    uint64_t oldOffset = 0;
    uint64_t oldLength = 0;
    uint64_t newLength = 0;
};

std::string EncodeDeltaHeader(const DeltaHeader& header);
std::string EncodeDeltaSegment(const DeltaSegment& segment);
// False when the bytes are not that record (wrong magic, length or version tag).
bool DecodeDeltaHeader(const unsigned char (&record)[kDeltaRecordSize], DeltaHeader* header);
bool DecodeDeltaSegment(const unsigned char (&record)[kDeltaRecordSize], DeltaSegment* segment);

// What making, applying or decompressing gave: `reason` says what was expected and what was found.
struct DeltaOutcome {
    bool ok = false;
    std::string reason;
    uint64_t bytesWritten = 0;  // to the output file
};

// Sizes `region` for `length` old bytes; false with `reason` set when the memory is not there.
bool HoldOldRegion(std::vector<unsigned char>& region, uint64_t length, std::string& reason);

// Reads exactly `length` bytes at `offset`; false on a short read.
bool ReadFully(ReadableFile& file, uint64_t offset, void* buffer, size_t length);

}  // namespace qr
