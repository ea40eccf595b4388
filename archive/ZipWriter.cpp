#include "archive/ZipWriter.h"

#include <limits>

#include <zlib.h>

#include "archive/ZipFormat.h"
#include "platform/FileError.h"

namespace qr {
namespace {

constexpr uint32_t kDataDescriptorSignature = 0x08074b50;  // "PK\7\8"
constexpr uint32_t kVersion = 20;                          // 2.0: deflate, data descriptors
constexpr uint32_t kFlagDataDescriptor = 0x0008;
constexpr uint32_t kMethodDeflate = 8;
// 1980-01-01 00:00, the earliest DOS time: the same input always gives the same archive.
constexpr uint32_t kDosTime = 0;
constexpr uint32_t kDosDate = (1 << 5) | 1;
constexpr uint64_t kLimit32 = std::numeric_limits<uint32_t>::max();
constexpr size_t kOutputChunk = 65536;

void Put16(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>((value >> 8) & 0xff));
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

}  // namespace

struct ZipWriter::Deflater {
    z_stream stream{};
    bool ready = false;
    uint32_t crc = 0;
    uint64_t in = 0;
    uint64_t out = 0;
    std::string buffer = std::string(kOutputChunk, '\0');
    ~Deflater() {
        if (ready) deflateEnd(&stream);
    }
};

ZipWriter::ZipWriter(WritableFile& out) : out_(out) {}
ZipWriter::~ZipWriter() = default;

bool ZipWriter::Fail(std::string problem) {
    if (problem_.empty()) problem_ = std::move(problem);
    deflater_.reset();
    return false;
}

bool ZipWriter::Emit(const void* data, size_t length) {
    if (!out_.Write(data, length)) return Fail("writing the archive failed (" + DescribeFileError(LastFileError()) + ")");
    written_ += length;
    if (written_ > kLimit32) return Fail("the archive would grow past 4 GiB, more than the launcher can read");
    return true;
}

bool ZipWriter::BeginEntry(const std::string& name) {
    if (!problem_.empty()) return false;
    if (finished_ || deflater_) return Fail("internal: entry \"" + name + "\" begun out of order");
    if (name.empty() || name.size() > 0xffff) return Fail("entry name of " + std::to_string(name.size()) + " bytes");
    if (entries_.size() >= 0xffff) return Fail("more than 65535 entries, more than one archive can hold");

    auto deflater = std::make_unique<Deflater>();
    // Raw deflate (negative window bits): the ZIP entry carries no zlib header or trailer.
    if (deflateInit2(&deflater->stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return Fail("zlib could not start deflating (out of memory?)");
    deflater->ready = true;

    CentralRecord record;
    record.name = name;
    record.localHeaderOffset = written_;
    std::string header;
    Put32(header, zip::kLocalHeaderSignature);
    Put16(header, kVersion);
    Put16(header, kFlagDataDescriptor);
    Put16(header, kMethodDeflate);
    Put16(header, kDosTime);
    Put16(header, kDosDate);
    Put32(header, 0);  // CRC and sizes follow the data, in the descriptor
    Put32(header, 0);
    Put32(header, 0);
    Put16(header, static_cast<uint32_t>(name.size()));
    Put16(header, 0);
    header += name;
    if (!Emit(header.data(), header.size())) return false;
    entries_.push_back(std::move(record));
    deflater_ = std::move(deflater);
    return true;
}

bool ZipWriter::Deflate(const void* data, size_t length, bool finish) {
    Deflater& d = *deflater_;
    const auto* bytes = static_cast<const Bytef*>(data);
    // zlib counts in uInt: feed large buffers in pieces.
    do {
        const size_t piece = length > kOutputChunk ? kOutputChunk : length;
        d.stream.next_in = const_cast<Bytef*>(bytes);
        d.stream.avail_in = static_cast<uInt>(piece);
        const bool last = finish && piece == length;
        int result;
        do {
            d.stream.next_out = reinterpret_cast<Bytef*>(&d.buffer[0]);
            d.stream.avail_out = static_cast<uInt>(d.buffer.size());
            result = deflate(&d.stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (result == Z_STREAM_ERROR) return Fail("zlib failed while deflating");
            const size_t produced = d.buffer.size() - d.stream.avail_out;
            d.out += produced;
            if (produced > 0 && !Emit(d.buffer.data(), produced)) return false;
        } while (d.stream.avail_out == 0 || (last && result != Z_STREAM_END));
        bytes += piece;
        length -= piece;
    } while (length > 0);
    return true;
}

bool ZipWriter::WriteEntryData(const void* data, size_t length) {
    if (!problem_.empty()) return false;
    if (!deflater_) return Fail("internal: data written outside an entry");
    if (length == 0) return true;
    Deflater& d = *deflater_;
    const auto* bytes = static_cast<const Bytef*>(data);
    for (size_t done = 0; done < length;) {
        const size_t piece = length - done > kOutputChunk ? kOutputChunk : length - done;
        d.crc = static_cast<uint32_t>(crc32(d.crc, bytes + done, static_cast<uInt>(piece)));
        done += piece;
    }
    d.in += length;
    if (d.in > kLimit32) return Fail("entry \"" + entries_.back().name + "\" is larger than 4 GiB");
    return Deflate(data, length, false);
}

bool ZipWriter::EndEntry() {
    if (!problem_.empty()) return false;
    if (!deflater_) return Fail("internal: entry ended twice");
    if (!Deflate("", 0, true)) return false;
    CentralRecord& record = entries_.back();
    record.crc = deflater_->crc;
    record.compressedSize = deflater_->out;
    record.uncompressedSize = deflater_->in;
    deflater_.reset();
    std::string descriptor;
    Put32(descriptor, kDataDescriptorSignature);
    Put32(descriptor, record.crc);
    Put32(descriptor, static_cast<uint32_t>(record.compressedSize));
    Put32(descriptor, static_cast<uint32_t>(record.uncompressedSize));
    return Emit(descriptor.data(), descriptor.size());
}

bool ZipWriter::AddEntry(const std::string& name, std::string_view data) {
    return BeginEntry(name) && WriteEntryData(data.data(), data.size()) && EndEntry();
}

bool ZipWriter::Finish() {
    if (!problem_.empty()) return false;
    if (finished_ || deflater_) return Fail("internal: archive finished with an entry open");
    finished_ = true;
    const uint64_t directoryOffset = written_;
    std::string directory;
    for (const CentralRecord& e : entries_) {
        Put32(directory, zip::kCentralHeaderSignature);
        Put16(directory, kVersion);  // made by: MS-DOS attributes, version 2.0
        Put16(directory, kVersion);
        Put16(directory, kFlagDataDescriptor);
        Put16(directory, kMethodDeflate);
        Put16(directory, kDosTime);
        Put16(directory, kDosDate);
        Put32(directory, e.crc);
        Put32(directory, static_cast<uint32_t>(e.compressedSize));
        Put32(directory, static_cast<uint32_t>(e.uncompressedSize));
        Put16(directory, static_cast<uint32_t>(e.name.size()));
        Put16(directory, 0);  // extra field
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk number
        Put16(directory, 0);  // internal attributes
        Put32(directory, 0);  // external attributes
        Put32(directory, static_cast<uint32_t>(e.localHeaderOffset));
        directory += e.name;
    }
    if (!Emit(directory.data(), directory.size())) return false;
    std::string end;
    Put32(end, zip::kEndRecordSignature);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, static_cast<uint32_t>(entries_.size()));
    Put16(end, static_cast<uint32_t>(entries_.size()));
    Put32(end, static_cast<uint32_t>(directory.size()));
    Put32(end, static_cast<uint32_t>(directoryOffset));
    Put16(end, 0);
    return Emit(end.data(), end.size());
}

}  // namespace qr
