#include "archive/ZipEntryStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "archive/ZipFormat.h"

namespace qr {
namespace {
constexpr uint32_t kInputBlockSize = 16384;
// The version string the launcher has always announced; zlib only compares its major digit.
constexpr char kZlibVersion[] = "1.1.3";
constexpr int kRawDeflateWindowBits = -15;

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
}
}  // namespace

ZipEntryStream::ZipEntryStream(ReadableFile& file, const ZipEntryInfo& entry, uint32_t dataPos, uint32_t baseShift)
    : file_(file),
      dataPos_(dataPos),
      compressedLeft_(entry.compressedSize),
      uncompressedLeft_(entry.uncompressedSize),
      method_(entry.method),
      baseShift_(baseShift),
      expectedCrc_(entry.crc),
      uncompressedSize_(entry.uncompressedSize) {}

ZipEntryStream::~ZipEntryStream() {
    if (streamReady_) inflateEnd(&stream_);
}

bool ZipEntryStream::Start() {
    inputBuffer_.reset(new (std::nothrow) unsigned char[kInputBlockSize]);
    if (!inputBuffer_) {
        fault_ = Fault::NoMemory;
        return false;
    }
    if (method_ != 0) {
        // Null allocator fields: zlib's own allocator.
        const int rc = inflateInit2_(&stream_, kRawDeflateWindowBits, kZlibVersion, static_cast<int>(sizeof stream_));
        streamReady_ = rc == Z_OK;
        if (!streamReady_) {
            fault_ = rc == Z_MEM_ERROR ? Fault::NoMemory : Fault::InitFailed;
            return false;
        }
    }
    return true;
}

// A short read means the archive file ends inside this entry's data: nothing after it is trusted.
void ZipEntryStream::Refill() {
    const uint32_t want = std::min(kInputBlockSize, compressedLeft_);
    const size_t got = file_.ReadAt(zip::FilePosition(dataPos_, baseShift_), inputBuffer_.get(), want);
    dataPos_ += want;
    compressedLeft_ -= want;
    if (got < want) {
        compressedLeft_ = 0;
        fileEnded_ = true;
    }
    stream_.next_in = inputBuffer_.get();
    stream_.avail_in = static_cast<uInt>(got);
}

void ZipEntryStream::Deliver(const unsigned char* bytes, uint32_t count, uint32_t& delivered) {
    runningCrc_ = static_cast<uint32_t>(crc32(runningCrc_, bytes, count));
    uncompressedLeft_ -= count;
    delivered += count;
}

bool ZipEntryStream::CopyStored(unsigned char*& out, uint32_t& room, uint32_t& delivered) {
    if (stream_.avail_in == 0) {
        fault_ = Fault::DataEnded;
        return false;
    }
    const uint32_t count = std::min<uint32_t>(room, stream_.avail_in);
    std::memcpy(out, stream_.next_in, count);
    Deliver(out, count, delivered);
    stream_.next_in += count;
    stream_.avail_in -= count;
    stream_.total_out += count;
    out += count;
    room -= count;
    return true;
}

bool ZipEntryStream::InflateSome(unsigned char*& out, uint32_t& room, uint32_t& delivered) {
    if (streamEnded_) return false;  // the deflate data ended before the recorded size
    const uInt inputBefore = stream_.avail_in;
    const uLong outputBefore = stream_.total_out;
    stream_.next_out = out;
    stream_.avail_out = room;
    const int rc = inflate(&stream_, Z_SYNC_FLUSH);
    const auto produced = static_cast<uint32_t>(stream_.total_out - outputBefore);
    Deliver(out, produced, delivered);
    out += produced;
    room -= produced;
    if (rc == Z_STREAM_END) {
        streamEnded_ = true;
        return false;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
        fault_ = Fault::CorruptData;
        zlibMessage_ = stream_.msg ? stream_.msg : "inflate error " + std::to_string(rc);
        return false;
    }
    if (produced == 0 && stream_.avail_in == inputBefore) {
        // No input left to give it, or inflate refuses to move: either way the read is over.
        fault_ = compressedLeft_ == 0 && inputBefore == 0 ? Fault::DataEnded : Fault::Stalled;
        return false;
    }
    return true;
}

uint32_t ZipEntryStream::Read(void* buffer, uint32_t length) {
    if (buffer == nullptr || length == 0) return 0;
    if (fault_ != Fault::None) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t room = std::min(length, uncompressedLeft_);
    uint32_t delivered = 0;
    while (room > 0) {
        if (stream_.avail_in == 0 && compressedLeft_ > 0) Refill();
        const bool more = method_ == 0 ? CopyStored(out, room, delivered) : InflateSome(out, room, delivered);
        if (!more) break;
    }
    return delivered;
}

bool ZipEntryStream::Intact(std::string* problem) const {
    std::string what;
    const uint32_t delivered = uncompressedSize_ - uncompressedLeft_;
    const std::string progress = " after " + std::to_string(delivered) + " of " + std::to_string(uncompressedSize_) + " bytes";
    switch (fault_) {
    case Fault::NoMemory: what = "not enough memory to read the entry"; break;
    case Fault::InitFailed: what = "the decompressor could not be started"; break;
    case Fault::DataEnded:
        what = (fileEnded_ ? "the archive file ends inside the entry's data" : "the entry's data ends") + progress;
        break;
    case Fault::CorruptData:
        what = "corrupt compressed data (" + zlibMessage_ + ")" + progress;
        if (method_ != 8) what += "; compression method " + std::to_string(method_) + " is not deflate";
        break;
    case Fault::Stalled: what = "the decompressor stopped making progress" + progress; break;
    case Fault::None:
        if (uncompressedLeft_ > 0)
            what = streamEnded_ ? "the compressed data ends" + progress : "the entry was not read to its end";
        else if (runningCrc_ != expectedCrc_)
            what = "CRC-32 of the data is " + Hex32(runningCrc_) + ", the archive records " + Hex32(expectedCrc_);
        break;
    }
    if (problem) *problem = what;
    return what.empty();
}

}  // namespace qr
