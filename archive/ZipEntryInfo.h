// The fixed fields of a central directory file header, each widened to 32 bits, in header order.
#pragma once

#include <cstdint>
#include <string>

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

// General purpose flag bit 11: the entry's name is UTF-8; without it the name is code page 949.
inline constexpr uint32_t kZipUtf8NameFlag = 0x0800;

// The current entry's name as extraction uses it (ZipReader::GetEntryName).
struct ZipEntryName {
    std::string path;          // code page 949, "." and empty components dropped; "" is the base directory
    bool isDirectory = false;  // ended in a separator, or nothing was left of it
    std::string refusal;       // non-empty: the entry must not be written, and why
    std::string shown;         // for messages: the path when there is one, else the stored bytes
};

}  // namespace qr
