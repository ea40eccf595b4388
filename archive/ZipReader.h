// Sequential, read-only access to the entries of one ZIP archive, in central directory order.
// One object per archive being read; it reads the file only through ReadableFile.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/ZipEntryInfo.h"
#include "platform/FileSystem.h"

namespace qr {

class ZipReader {
public:
    ZipReader() = default;
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Opens the archive and makes its first entry current. False when the file cannot be opened or
    // holds no end of central directory record.
    bool OpenArchive(const std::string& path, FileSystem& fs = SystemFileSystem());
    // True when entry 0 is current; false for an empty archive or a damaged first header.
    bool GoToFirstEntry();
    // Copies the current entry's header and/or name (a terminator follows only when it fits).
    bool GetEntryInfo(ZipEntryInfo* info, char* nameBuffer, uint32_t nameBufferSize) const;
    // The current entry's name decoded (UTF-8 when flag bit 11 is set, else code page 949 bytes),
    // normalised and checked; false only when the name cannot be read from the archive.
    bool GetEntryName(ZipEntryName& name) const;
    // False at the last entry or at a damaged next header; the current entry is then unchanged.
    bool GoToNextEntry();
    void CloseArchive();
    // Why the last OpenArchive or GoTo...Entry failed; empty at a plain end of entries.
    const std::string& Problem() const { return problem_; }
    uint32_t EntryIndex() const { return entryIndex_; }
    uint32_t EntryCount() const { return entryCount_; }

    // For reading entries on other threads while this reader walks on (the file only takes
    // positioned reads): where the current entry's local header lies, and where the data of the
    // entry `index` whose local header lies at `localHeaderOffset` starts.
    uint32_t LocalHeaderOffset() const { return localHeaderOffset_; }
    bool FindEntryData(uint32_t localHeaderOffset, uint32_t index, uint32_t* dataPos, std::string* problem) const;
    ReadableFile& File() const { return *file_; }
    uint32_t BaseShift() const { return baseShift_; }

private:
    bool ReadCentralHeader(uint32_t pos, uint32_t index, ZipEntryInfo& info, uint32_t& localHeaderOffset);
    bool Fail(std::string problem);

    std::unique_ptr<ReadableFile> file_;
    uint32_t entryCount_ = 0;
    uint32_t baseShift_ = 0;
    uint32_t entryIndex_ = 0;
    uint32_t entryPos_ = 0;
    bool entryValid_ = false;
    uint32_t centralDirSize_ = 0;
    uint32_t centralDirOffset_ = 0;
    ZipEntryInfo entry_;
    uint32_t localHeaderOffset_ = 0;
    std::string problem_;
};

}  // namespace qr
