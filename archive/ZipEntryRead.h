// Reads the current entry of a ZipReader through the data stream the extraction uses: for whoever
// checks what one entry holds (the publisher's check of a served archive, the tests, the fuzzer).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/ZipEntryStream.h"
#include "archive/ZipReader.h"

namespace qr {

class ZipEntryRead {
public:
    // False, with the reason in Problem(), when no entry is current or its data cannot be started.
    bool Open(const ZipReader& reader) {
        Close();
        problem_.clear();
        ZipEntryInfo info;
        if (!reader.GetEntryInfo(&info, nullptr, 0)) {
            problem_ = "no entry is current";
            return false;
        }
        uint32_t dataPos = 0;
        if (!reader.FindEntryData(reader.LocalHeaderOffset(), reader.EntryIndex(), &dataPos, &problem_)) return false;
        auto stream = std::make_unique<ZipEntryStream>(reader.File(), info, dataPos, reader.BaseShift());
        if (!stream->Start()) {
            stream->Intact(&problem_);
            return false;
        }
        stream_ = std::move(stream);
        return true;
    }
    uint32_t Read(void* buffer, uint32_t length) { return stream_ ? stream_->Read(buffer, length) : 0; }
    // After reading: all of the entry delivered and its CRC matches.
    bool Intact(std::string* problem) const {
        if (stream_) return stream_->Intact(problem);
        if (problem) *problem = "no entry is open";
        return false;
    }
    void Close() { stream_.reset(); }
    const std::string& Problem() const { return problem_; }

private:
    std::unique_ptr<ZipEntryStream> stream_;
    std::string problem_;
};

}  // namespace qr
