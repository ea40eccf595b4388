#include "archive/DeltaDecoder.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/ZstdHandles.h"

namespace qr {
namespace {

std::string Amount(uint64_t bytes) {
    if (bytes >= (1u << 20)) return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10)) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

// The delta or compressed file, read front to back through one buffer.
class InputCursor {
public:
    explicit InputCursor(ReadableFile& file) : file_(file), size_(file.Size()), buffer_(ZSTD_DStreamInSize()) {}

    uint64_t position() const { return position_; }
    bool AtEnd() const { return position_ >= size_; }

    // The bytes at the position, at most one buffer; empty at the end or when the file fails.
    ZSTD_inBuffer Peek() {
        if (begin_ == end_ && !AtEnd()) {
            begin_ = 0;
            end_ = file_.ReadAt(position_, buffer_.data(), buffer_.size());
        }
        return ZSTD_inBuffer{buffer_.data() + begin_, end_ - begin_, 0};
    }
    void Advance(size_t count) {
        begin_ += count;
        position_ += count;
    }
    bool ReadRecord(unsigned char (&record)[kDeltaRecordSize]) {
        begin_ = end_ = 0;
        if (!ReadFully(file_, position_, record, sizeof record)) return false;
        position_ += sizeof record;
        return true;
    }

private:
    ReadableFile& file_;
    const uint64_t size_;
    std::vector<unsigned char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    uint64_t position_ = 0;
};

std::string DescribeZstdError(size_t code, const DeltaLimits& limits) {
    switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_frameParameter_windowTooLarge:
        return "a frame needs a window over the " + Amount(1ull << limits.windowLogMax) + " allowed";
    case ZSTD_error_checksum_wrong:
        return "the decoded bytes fail the frame's checksum (damaged data or a different old file)";
    default:
        return std::string("zstd: ") + ZSTD_getErrorName(code);
    }
}

struct FrameTarget {
    WritableFile& out;
    uint64_t maxBytes;     // more is refused
    uint64_t produced = 0;
};

// Decodes one frame from the cursor into the target; false with `reason` set when it cannot.
bool DecodeFrame(ZSTD_DCtx* context, InputCursor& input, FrameTarget& target, const DeltaLimits& limits,
                 std::string& reason) {
    std::vector<unsigned char> buffer(ZSTD_DStreamOutSize());
    for (;;) {
        ZSTD_inBuffer in = input.Peek();
        ZSTD_outBuffer out{buffer.data(), buffer.size(), 0};
        const size_t result = ZSTD_decompressStream(context, &out, &in);
        input.Advance(in.pos);
        if (ZSTD_isError(result)) {
            reason = DescribeZstdError(result, limits) + " at byte " + std::to_string(input.position());
            return false;
        }
        if (out.pos > target.maxBytes - target.produced) {
            reason = "the data decodes to more than the " + std::to_string(target.maxBytes) + " bytes expected";
            return false;
        }
        if (out.pos > 0 && !target.out.Write(buffer.data(), out.pos)) {
            reason = "writing the new file failed after " + std::to_string(target.produced) + " bytes";
            return false;
        }
        target.produced += out.pos;
        if (result == 0) return true;  // the frame ended and everything was handed out
        if (in.size == 0 && out.pos == 0) {
            reason = "the data ends inside a frame, at byte " + std::to_string(input.position());
            return false;
        }
    }
}

ZstdDCtx MakeDecoder(const DeltaLimits& limits, std::string& reason) {
    ZstdDCtx context(ZSTD_createDCtx());
    if (!context) {
        reason = "no memory for the zstd decoder";
        return nullptr;
    }
    const size_t set = ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, static_cast<int>(limits.windowLogMax));
    if (ZSTD_isError(set)) {
        reason = "window bound " + std::to_string(limits.windowLogMax) + " refused: " + ZSTD_getErrorName(set);
        return nullptr;
    }
    return context;
}

// The checks a segment record must pass before any of its old bytes are read.
bool SegmentFits(const DeltaSegment& segment, const DeltaHeader& header, uint64_t produced,
                 const DeltaLimits& limits, std::string& reason) {
    const std::string at = "segment at new byte " + std::to_string(produced);
    if (segment.oldLength > std::min<uint64_t>(limits.maxOldRegion, SIZE_MAX)) {
        reason = at + " refers to " + Amount(segment.oldLength) + " of the old file, over the " +
                 Amount(limits.maxOldRegion) + " allowed";
    } else if (segment.oldOffset > header.oldSize || segment.oldLength > header.oldSize - segment.oldOffset) {
        reason = at + " refers to old bytes " + std::to_string(segment.oldOffset) + "+" +
                 std::to_string(segment.oldLength) + ", past the old file's " + std::to_string(header.oldSize);
    } else if (segment.newLength == 0 || segment.newLength > header.newSize - produced) {
        reason = at + " brings " + std::to_string(segment.newLength) + " bytes; " +
                 std::to_string(header.newSize - produced) + " remain";
    } else {
        return true;
    }
    return false;
}

}  // namespace

DeltaOutcome ApplyDelta(ReadableFile& oldFile, ReadableFile& delta, WritableFile& out, const DeltaLimits& limits) {
    DeltaOutcome outcome;
    InputCursor input(delta);
    unsigned char record[kDeltaRecordSize];
    DeltaHeader header;
    if (!input.ReadRecord(record) || !DecodeDeltaHeader(record, &header)) {
        outcome.reason = "not a delta file (its header is missing or of another version)";
        return outcome;
    }
    if (oldFile.Size() != header.oldSize) {
        outcome.reason = "the delta applies to a file of " + std::to_string(header.oldSize) +
                         " bytes; the local file has " + std::to_string(oldFile.Size());
        return outcome;
    }
    if (header.newSize > limits.maxNewSize) {
        outcome.reason = "the delta makes " + std::to_string(header.newSize) + " bytes, over the " +
                         std::to_string(limits.maxNewSize) + " expected";
        return outcome;
    }
    ZstdDCtx context = MakeDecoder(limits, outcome.reason);
    if (!context) return outcome;
    std::vector<unsigned char> region;  // one allocation, reused by every segment
    while (outcome.bytesWritten < header.newSize) {
        DeltaSegment segment;
        if (!input.ReadRecord(record) || !DecodeDeltaSegment(record, &segment)) {
            outcome.reason = "no segment record at delta byte " + std::to_string(input.position()) + " after " +
                             std::to_string(outcome.bytesWritten) + " of " + std::to_string(header.newSize) +
                             " new bytes";
            return outcome;
        }
        if (!SegmentFits(segment, header, outcome.bytesWritten, limits, outcome.reason)) return outcome;
        if (!HoldOldRegion(region, segment.oldLength, outcome.reason)) return outcome;
        if (!ReadFully(oldFile, segment.oldOffset, region.data(), region.size())) {
            outcome.reason = "reading the old file at byte " + std::to_string(segment.oldOffset) + " failed";
            return outcome;
        }
        ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only);
        ZSTD_DCtx_refPrefix(context.get(), region.data(), region.size());
        FrameTarget target{out, segment.newLength};
        const bool decoded = DecodeFrame(context.get(), input, target, limits, outcome.reason);
        outcome.bytesWritten += target.produced;
        if (!decoded) return outcome;
        if (target.produced != segment.newLength) {
            outcome.reason = "a segment decoded to " + std::to_string(target.produced) + " bytes instead of " +
                             std::to_string(segment.newLength);
            return outcome;
        }
    }
    if (!input.AtEnd()) {
        outcome.reason = "unexpected bytes after the last segment, at delta byte " + std::to_string(input.position());
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

DeltaOutcome DecompressFile(ReadableFile& compressed, WritableFile& out, const DeltaLimits& limits) {
    DeltaOutcome outcome;
    InputCursor input(compressed);
    if (input.AtEnd()) {
        outcome.reason = "the compressed file is empty";
        return outcome;
    }
    ZstdDCtx context = MakeDecoder(limits, outcome.reason);
    if (!context) return outcome;
    FrameTarget target{out, limits.maxNewSize};
    while (!input.AtEnd()) {
        const bool decoded = DecodeFrame(context.get(), input, target, limits, outcome.reason);
        outcome.bytesWritten = target.produced;
        if (!decoded) return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace qr
