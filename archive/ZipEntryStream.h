// The data of one open archive entry: stored bytes copied, anything else raw-inflated, with a
// running CRC-32 so the caller can tell an intact entry from a damaged one after reading it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <zlib.h>

#include "archive/ZipEntryInfo.h"
#include "platform/FileSystem.h"

namespace qr {

class ZipEntryStream {
public:
    // `dataPos` is the recorded position of the entry's first data byte.
    ZipEntryStream(ReadableFile& file, const ZipEntryInfo& entry, uint32_t dataPos, uint32_t baseShift);
    ~ZipEntryStream();
    ZipEntryStream(const ZipEntryStream&) = delete;
    ZipEntryStream& operator=(const ZipEntryStream&) = delete;

    // Takes the input block and, for compressed entries, the inflate state; false when either failed.
    bool Start();
    // Fills up to `length` bytes; fewer only at the entry's end or when it cannot go on.
    uint32_t Read(void* buffer, uint32_t length);
    // True once every byte was delivered and the CRC matches; otherwise says what went wrong.
    bool Intact(std::string* problem) const;

private:
    enum class Fault { None, NoMemory, InitFailed, DataEnded, CorruptData, Stalled };

    void Refill();
    bool CopyStored(unsigned char*& out, uint32_t& room, uint32_t& delivered);
    bool InflateSome(unsigned char*& out, uint32_t& room, uint32_t& delivered);
    void Deliver(const unsigned char* bytes, uint32_t count, uint32_t& delivered);

    ReadableFile& file_;
    std::unique_ptr<unsigned char[]> inputBuffer_;
    z_stream stream_{};
    uint32_t dataPos_;
    bool streamReady_ = false;
    uint32_t runningCrc_ = 0;
    uint32_t compressedLeft_;
    uint32_t uncompressedLeft_;
    uint32_t method_;
    uint32_t baseShift_;
    uint32_t expectedCrc_;
    uint32_t uncompressedSize_;
    bool streamEnded_ = false;
    bool fileEnded_ = false;  // the archive file ended inside this entry's data
    Fault fault_ = Fault::None;
    std::string zlibMessage_;
};

}  // namespace qr
