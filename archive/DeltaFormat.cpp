#include "archive/DeltaFormat.h"

#include <new>

namespace qr {
namespace {

// Two of zstd's sixteen skippable-frame magics; decoders that do not know them step over them.
constexpr uint32_t kHeaderMagic = 0x184D2A5E;
constexpr uint32_t kSegmentMagic = 0x184D2A5F;
constexpr uint32_t kPayloadLength = kDeltaRecordSize - 8;
// The header's payload starts with a version byte, so a later layout is refused, not misread.
constexpr uint8_t kVersion = 1;

void PutLe(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t GetLe(const unsigned char* in, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

std::string Record(uint32_t magic, uint64_t a, uint64_t b, uint64_t c) {
    std::string out;
    PutLe(out, magic, 4);
    PutLe(out, kPayloadLength, 4);
    PutLe(out, a, 8);
    PutLe(out, b, 8);
    PutLe(out, c, 8);
    return out;
}

bool Fields(const unsigned char (&record)[kDeltaRecordSize], uint32_t magic, uint64_t (&fields)[3]) {
    if (GetLe(record, 4) != magic || GetLe(record + 4, 4) != kPayloadLength) return false;
    for (int i = 0; i < 3; ++i) fields[i] = GetLe(record + 8 + 8 * i, 8);
    return true;
}

}  // namespace

std::string EncodeDeltaHeader(const DeltaHeader& header) {
    return Record(kHeaderMagic, kVersion, header.oldSize, header.newSize);
}

std::string EncodeDeltaSegment(const DeltaSegment& segment) {
    return Record(kSegmentMagic, segment.oldOffset, segment.oldLength, segment.newLength);
}

bool DecodeDeltaHeader(const unsigned char (&record)[kDeltaRecordSize], DeltaHeader* header) {
    uint64_t fields[3];
    if (!Fields(record, kHeaderMagic, fields) || fields[0] != kVersion) return false;
    header->oldSize = fields[1];
    header->newSize = fields[2];
    return true;
}

bool DecodeDeltaSegment(const unsigned char (&record)[kDeltaRecordSize], DeltaSegment* segment) {
    uint64_t fields[3];
    if (!Fields(record, kSegmentMagic, fields)) return false;
    segment->oldOffset = fields[0];
    segment->oldLength = fields[1];
    segment->newLength = fields[2];
    return true;
}

// A 32-bit program may not find the address space; that fails the one file, not the program.
bool HoldOldRegion(std::vector<unsigned char>& region, uint64_t length, std::string& reason) {
    try {
        region.resize(static_cast<size_t>(length));
        return true;
    } catch (const std::bad_alloc&) {
        reason = "no memory for " + std::to_string(length >> 20) + " MiB of the old file";
        return false;
    }
}

bool ReadFully(ReadableFile& file, uint64_t offset, void* buffer, size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const size_t got = file.ReadAt(offset, out, length);
        if (got == 0) return false;
        out += got;
        offset += got;
        length -= got;
    }
    return true;
}

}  // namespace qr
