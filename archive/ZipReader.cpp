#include "archive/ZipReader.h"

#include "archive/ZipDirectoryEnd.h"
#include "archive/ZipFormat.h"
#include "common/SafeName.h"
#include "platform/TextEncoding.h"

namespace qr {
namespace {

std::string EntryLabel(uint32_t index, uint32_t count) {
    return "entry " + std::to_string(index + 1) + " of " + std::to_string(count);
}

}  // namespace

ZipReader::~ZipReader() { CloseArchive(); }

bool ZipReader::Fail(std::string problem) {
    problem_ = std::move(problem);
    return false;
}

bool ZipReader::OpenArchive(const std::string& path, FileSystem& fs) {
    // Whatever an earlier archive left behind, file handle included, goes first.
    CloseArchive();
    problem_.clear();
    std::unique_ptr<ReadableFile> file = fs.OpenRead(path);
    if (!file) return Fail("the archive \"" + path + "\" cannot be opened");
    if (file->Size() > UINT32_MAX) return Fail("\"" + path + "\" is 4 GiB or larger, which ZIP without ZIP64 cannot address");

    // Without an end record there is no directory to trust: reading "entries" from offset 0 would
    // only invent them.
    const std::optional<uint32_t> end = FindDirectoryEnd(*file);
    if (!end) return Fail("\"" + path + "\" is not a ZIP archive: no end of central directory record");
    unsigned char record[zip::kEndRecordSize];
    if (file->ReadAt(*end, record, sizeof record) != sizeof record)
        return Fail("\"" + path + "\" is cut off inside its end of central directory record at offset " +
                    std::to_string(*end));

    file_ = std::move(file);
    entryCount_ = zip::Le16(record + 8);
    centralDirSize_ = zip::Le32(record + 12);
    centralDirOffset_ = zip::Le32(record + 16);
    // Non-zero when something (a self-extractor stub) precedes the archive in the file.
    baseShift_ = *end - centralDirOffset_ - centralDirSize_;
    GoToFirstEntry();
    return true;
}

bool ZipReader::ReadCentralHeader(uint32_t pos, uint32_t index, ZipEntryInfo& info, uint32_t& localHeaderOffset) {
    unsigned char h[zip::kCentralHeaderSize];
    if (file_->ReadAt(zip::FilePosition(pos, baseShift_), h, sizeof h) != sizeof h)
        return Fail("the central directory is cut off at " + EntryLabel(index, entryCount_) + " (offset " +
                    std::to_string(pos) + ")");
    // Past a missing signature the lengths that lead to the next header are noise as well.
    if (zip::Le32(h) != zip::kCentralHeaderSignature)
        return Fail("the central directory is damaged at " + EntryLabel(index, entryCount_) +
                    ": no header signature at offset " + std::to_string(pos));
    info.versionMadeBy = zip::Le16(h + 4);
    info.versionNeeded = zip::Le16(h + 6);
    info.flags = zip::Le16(h + 8);
    info.method = zip::Le16(h + 10);
    info.dosDateTime = zip::Le32(h + 12);
    info.crc = zip::Le32(h + 16);
    info.compressedSize = zip::Le32(h + 20);
    info.uncompressedSize = zip::Le32(h + 24);
    info.nameLength = zip::Le16(h + 28);
    info.extraLength = zip::Le16(h + 30);
    info.commentLength = zip::Le16(h + 32);
    info.diskNumberStart = zip::Le16(h + 34);
    info.internalAttributes = zip::Le16(h + 36);
    info.externalAttributes = zip::Le32(h + 38);
    localHeaderOffset = zip::Le32(h + 42);
    return true;
}

bool ZipReader::GoToFirstEntry() {
    problem_.clear();
    entryValid_ = false;
    entryIndex_ = 0;
    entryPos_ = centralDirOffset_;
    // An empty archive has no first entry; its directory position may hold anything.
    if (!file_ || entryCount_ == 0) return false;
    if (!ReadCentralHeader(centralDirOffset_, 0, entry_, localHeaderOffset_)) return false;
    entryValid_ = true;
    return true;
}

bool ZipReader::GoToNextEntry() {
    problem_.clear();
    if (!entryValid_ || entryIndex_ + 1 >= entryCount_) return false;
    const uint32_t nextPos =
        entryPos_ + zip::kCentralHeaderSize + entry_.nameLength + entry_.extraLength + entry_.commentLength;
    ZipEntryInfo next;
    uint32_t nextLocalHeaderOffset = 0;
    if (!ReadCentralHeader(nextPos, entryIndex_ + 1, next, nextLocalHeaderOffset)) return false;
    entryPos_ = nextPos;
    entryIndex_ += 1;
    entry_ = next;
    localHeaderOffset_ = nextLocalHeaderOffset;
    return true;
}

bool ZipReader::GetEntryInfo(ZipEntryInfo* info, char* nameBuffer, uint32_t nameBufferSize) const {
    if (!entryValid_) return false;
    if (info) *info = entry_;
    if (nameBuffer == nullptr || nameBufferSize == 0) return true;
    const uint32_t copy = entry_.nameLength < nameBufferSize ? entry_.nameLength : nameBufferSize;
    if (copy > 0 &&
        file_->ReadAt(zip::FilePosition(entryPos_ + zip::kCentralHeaderSize, baseShift_), nameBuffer, copy) != copy)
        return false;
    if (entry_.nameLength < nameBufferSize) nameBuffer[entry_.nameLength] = '\0';
    return true;
}

bool ZipReader::GetEntryName(ZipEntryName& name) const {
    name = ZipEntryName{};
    if (!entryValid_) return false;
    std::string stored(entry_.nameLength, '\0');
    if (!stored.empty() &&
        file_->ReadAt(zip::FilePosition(entryPos_ + zip::kCentralHeaderSize, baseShift_), stored.data(),
                      stored.size()) != stored.size())
        return false;
    name.shown = stored;

    // Paths are code page 949 throughout; a flagged name is converted first, so the safety rules
    // below judge the name exactly as it will reach the file system.
    std::string cp949 = stored;
    if (entry_.flags & kZipUtf8NameFlag) {
        switch (Utf8ToCp949(stored, cp949)) {
            case Cp949Conversion::Converted:
                break;
            case Cp949Conversion::NotUtf8:
                name.refusal = "the name is marked as UTF-8 but is not valid UTF-8";
                return true;
            case Cp949Conversion::NoCp949Form:
                name.refusal = "the name holds a character that has no code page 949 form";
                return true;
        }
        name.shown = cp949;
    }
    NormalName normal = NormaliseRelativeName(cp949);
    name.refusal = std::move(normal.refusal);
    name.isDirectory = normal.isDirectory;
    name.path = std::move(normal.path);
    if (name.refusal.empty() && !name.path.empty()) name.shown = name.path;
    return true;
}

bool ZipReader::FindEntryData(uint32_t localHeaderOffset, uint32_t index, uint32_t* dataPos,
                              std::string* problem) const {
    const std::string label = EntryLabel(index, entryCount_);
    unsigned char h[zip::kLocalHeaderSize];
    if (!file_ || file_->ReadAt(zip::FilePosition(localHeaderOffset, baseShift_), h, sizeof h) != sizeof h) {
        *problem = "the local header of " + label + " lies outside the archive (offset " +
                   std::to_string(localHeaderOffset) + ")";
        return false;
    }
    if (zip::Le32(h) != zip::kLocalHeaderSignature) {
        *problem = "the local header of " + label + " is missing at offset " + std::to_string(localHeaderOffset);
        return false;
    }
    // Only the local lengths are taken from here; the central header's method and sizes govern.
    const uint32_t localNameAndExtra = zip::Le16(h + 26) + zip::Le16(h + 28);
    *dataPos = localHeaderOffset + zip::kLocalHeaderSize + localNameAndExtra;
    return true;
}

void ZipReader::CloseArchive() {
    file_.reset();
    entryCount_ = baseShift_ = entryIndex_ = entryPos_ = 0;
    centralDirSize_ = centralDirOffset_ = localHeaderOffset_ = 0;
    entryValid_ = false;
    entry_ = ZipEntryInfo{};
}

}  // namespace qr
