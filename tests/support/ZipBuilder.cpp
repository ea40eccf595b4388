#include "tests/support/ZipBuilder.h"

#include <zlib.h>

namespace qr::test {
namespace {

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

std::string RawDeflate(const std::string& data) {
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, data.size()) + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

}  // namespace

std::string BuildZip(const std::vector<ZipEntrySpec>& entries, const std::string& prefix) {
    std::string body, central;
    for (const ZipEntrySpec& e : entries) {
        uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                   static_cast<uInt>(e.data.size())));
        if (e.wrongCrc) crc ^= 0x5A5A5A5Au;
        const std::string stored = e.deflate ? RawDeflate(e.data) : e.data;
        const uint32_t method = e.deflate ? 8 : 0;
        const uint32_t offset = static_cast<uint32_t>(body.size());
        Put32(body, 0x04034b50);
        Put16(body, 20);
        Put16(body, 0);
        Put16(body, method);
        Put32(body, 0);  // time and date
        Put32(body, crc);
        Put32(body, static_cast<uint32_t>(stored.size()));
        Put32(body, static_cast<uint32_t>(e.data.size()));
        Put16(body, static_cast<uint32_t>(e.name.size()));
        Put16(body, 0);
        body += e.name;
        body += stored;

        Put32(central, 0x02014b50);
        Put16(central, 20);
        Put16(central, 20);
        Put16(central, 0);
        Put16(central, method);
        Put32(central, 0);
        Put32(central, crc);
        Put32(central, static_cast<uint32_t>(stored.size()));
        Put32(central, static_cast<uint32_t>(e.data.size()));
        Put16(central, static_cast<uint32_t>(e.name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offset);
        central += e.name;
    }
    std::string out = prefix + body + central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put16(out, static_cast<uint32_t>(entries.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, static_cast<uint32_t>(body.size()));  // offsets as recorded, without the prefix
    Put16(out, 0);
    return out;
}

}  // namespace qr::test
