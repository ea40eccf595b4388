// Writes a ZIP archive, entry by entry, as a stream: every entry is raw-deflated with zlib and
// followed by a data descriptor, so nothing needs to be known before its bytes go by and the output
// never has to be sought back into. The archive stays within the 32-bit format (no ZIP64): the
// launcher's reader knows nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace qr {

class ZipWriter {
public:
    // `out` must outlive the writer; the writer never closes it.
    explicit ZipWriter(WritableFile& out);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Every call returns false once anything failed; Problem() then says what.
    bool BeginEntry(const std::string& name);
    bool WriteEntryData(const void* data, size_t length);
    bool EndEntry();
    bool AddEntry(const std::string& name, std::string_view data);
    // Writes the central directory and the end record. Nothing may be added afterwards.
    bool Finish();

    const std::string& Problem() const { return problem_; }

private:
    struct CentralRecord {
        std::string name;
        uint32_t crc = 0;
        uint64_t compressedSize = 0;
        uint64_t uncompressedSize = 0;
        uint64_t localHeaderOffset = 0;
    };
    struct Deflater;

    bool Emit(const void* data, size_t length);
    bool Deflate(const void* data, size_t length, bool finish);
    bool Fail(std::string problem);

    WritableFile& out_;
    uint64_t written_ = 0;
    std::vector<CentralRecord> entries_;
    std::unique_ptr<Deflater> deflater_;  // present while an entry is open
    bool finished_ = false;
    std::string problem_;
};

}  // namespace qr
