#include "archive/DeltaEncoder.h"

#include <algorithm>
#include <vector>

#include "archive/ZstdHandles.h"

namespace qr {
namespace {

struct Output {
    WritableFile& file;
    DeltaOutcome& outcome;

    bool Write(const void* data, size_t length) {
        if (length > 0 && !file.Write(data, length)) {
            outcome.reason = "writing the output failed after " + std::to_string(outcome.bytesWritten) + " bytes";
            return false;
        }
        outcome.bytesWritten += length;
        return true;
    }
    bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
};

bool Zstd(size_t result, const char* step, DeltaOutcome& outcome) {
    if (!ZSTD_isError(result)) return true;
    outcome.reason = std::string("zstd refused ") + step + ": " + ZSTD_getErrorName(result);
    return false;
}

// Streams `length` bytes of `in` from `offset` through the compressor, ending its frame.
bool CompressRange(ZSTD_CCtx* context, ReadableFile& in, uint64_t offset, uint64_t length, Output& out) {
    std::vector<unsigned char> inBuffer(ZSTD_CStreamInSize()), outBuffer(ZSTD_CStreamOutSize());
    uint64_t done = 0;
    for (;;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(inBuffer.size(), length - done));
        if (chunk > 0 && !ReadFully(in, offset + done, inBuffer.data(), chunk)) {
            out.outcome.reason = "reading the input at byte " + std::to_string(offset + done) + " failed";
            return false;
        }
        done += chunk;
        const ZSTD_EndDirective mode = done == length ? ZSTD_e_end : ZSTD_e_continue;
        ZSTD_inBuffer input{inBuffer.data(), chunk, 0};
        bool finished = false;
        while (!finished) {
            ZSTD_outBuffer output{outBuffer.data(), outBuffer.size(), 0};
            const size_t left = ZSTD_compressStream2(context, &output, &input, mode);
            if (!Zstd(left, "the data", out.outcome) || !out.Write(outBuffer.data(), output.pos)) return false;
            finished = mode == ZSTD_e_end ? left == 0 : input.pos == input.size;
        }
        if (mode == ZSTD_e_end) return true;
    }
}

unsigned WindowLogFor(uint64_t bytes) {
    unsigned log = 10;  // zstd's smallest window
    while ((1ull << log) < bytes) ++log;
    return log;
}

// The old region a segment refers to: the segment's own position widened by the margin on both
// sides, slid back inside the old file so that it is as long as the old file allows.
DeltaSegment SegmentAt(uint64_t start, uint64_t newSize, uint64_t oldSize, const DeltaMakeOptions& options) {
    DeltaSegment segment;
    segment.newLength = std::min(options.segmentSize, newSize - start);
    segment.oldLength = std::min(oldSize, options.segmentSize + 2 * options.regionMargin);
    const uint64_t wanted = start > options.regionMargin ? start - options.regionMargin : 0;
    segment.oldOffset = std::min(wanted, oldSize - segment.oldLength);
    return segment;
}

bool StartSegment(ZSTD_CCtx* context, const DeltaSegment& segment, const std::vector<unsigned char>& region,
                  int level, DeltaOutcome& outcome) {
    ZSTD_CCtx_reset(context, ZSTD_reset_session_only);
    const int windowLog = static_cast<int>(WindowLogFor(segment.oldLength + segment.newLength));
    return Zstd(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level), "the level", outcome) &&
           Zstd(ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1), "long mode", outcome) &&
           Zstd(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog), "the window", outcome) &&
           Zstd(ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1), "the checksum", outcome) &&
           Zstd(ZSTD_CCtx_setPledgedSrcSize(context, segment.newLength), "the size", outcome) &&
           Zstd(ZSTD_CCtx_refPrefix(context, region.data(), region.size()), "the old region", outcome);
}

}  // namespace

DeltaOutcome MakeDelta(ReadableFile& oldFile, ReadableFile& newFile, WritableFile& out,
                       const DeltaMakeOptions& options) {
    DeltaOutcome outcome;
    if (options.segmentSize == 0 || options.segmentSize > kDeltaMaxOldRegion ||
        options.regionMargin > (kDeltaMaxOldRegion - options.segmentSize) / 2) {
        outcome.reason = "segments of " + std::to_string(options.segmentSize) + " bytes with a margin of " +
                         std::to_string(options.regionMargin) + " would exceed what launchers decode";
        return outcome;
    }
    Output output{out, outcome};
    DeltaHeader header{oldFile.Size(), newFile.Size()};
    if (!output.Write(EncodeDeltaHeader(header))) return outcome;
    ZstdCCtx context(ZSTD_createCCtx());
    if (!context) {
        outcome.reason = "no memory for the zstd compressor";
        return outcome;
    }
    std::vector<unsigned char> region;
    for (uint64_t start = 0; start < header.newSize;) {
        const DeltaSegment segment = SegmentAt(start, header.newSize, header.oldSize, options);
        if (!HoldOldRegion(region, segment.oldLength, outcome.reason)) return outcome;
        if (!ReadFully(oldFile, segment.oldOffset, region.data(), region.size())) {
            outcome.reason = "reading the old file at byte " + std::to_string(segment.oldOffset) + " failed";
            return outcome;
        }
        if (!output.Write(EncodeDeltaSegment(segment)) ||
            !StartSegment(context.get(), segment, region, options.level, outcome) ||
            !CompressRange(context.get(), newFile, start, segment.newLength, output)) {
            return outcome;
        }
        start += segment.newLength;
    }
    outcome.ok = true;
    return outcome;
}

DeltaOutcome CompressFile(ReadableFile& in, WritableFile& out, int level) {
    DeltaOutcome outcome;
    Output output{out, outcome};
    ZstdCCtx context(ZSTD_createCCtx());
    if (!context) {
        outcome.reason = "no memory for the zstd compressor";
        return outcome;
    }
    const uint64_t size = in.Size();
    if (!Zstd(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level), "the level", outcome) ||
        !Zstd(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 1), "the checksum", outcome) ||
        !Zstd(ZSTD_CCtx_setPledgedSrcSize(context.get(), size), "the size", outcome) ||
        !CompressRange(context.get(), in, 0, size, output)) {
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace qr
