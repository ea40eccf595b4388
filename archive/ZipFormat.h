// Record layouts of the ZIP format that the reader understands, and little-endian decoding.
#pragma once

#include <cstdint>

namespace qr::zip {

constexpr uint32_t kEndRecordSignature = 0x06054b50;      // "PK\5\6"
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;  // "PK\1\2"
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;    // "PK\3\4"
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kLocalHeaderSize = 30;

inline uint32_t Le16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8); }
inline uint32_t Le32(const unsigned char* p) { return Le16(p) | (Le16(p + 2) << 16); }

// Recorded positions are 32-bit and shifted by the bytes found in front of the archive; the sum
// wraps at 32 bits like the offsets it is made of.
inline uint64_t FilePosition(uint32_t recorded, uint32_t baseShift) {
    return static_cast<uint32_t>(recorded + baseShift);
}

}  // namespace qr::zip
