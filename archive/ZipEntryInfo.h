// The fixed fields of a central directory file header, each widened to 32 bits, in header order.
#pragma once

#include <cstdint>

namespace qr {

struct ZipEntryInfo {
    uint32_t versionMadeBy = 0;
    uint32_t versionNeeded = 0;
    uint32_t flags = 0;
    uint32_t method = 0;       // 0 stored; anything else is handed to raw inflate
    uint32_t dosDateTime = 0;  // time in the low half, date in the high half
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t nameLength = 0;
    uint32_t extraLength = 0;
    uint32_t commentLength = 0;
    uint32_t diskNumberStart = 0;
    uint32_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
};

}  // namespace qr
