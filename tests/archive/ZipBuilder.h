// Test archives written byte by byte, so every field (sizes, CRCs, offsets, signatures) can be set
// to exactly the damage a case needs.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <deque>
#include <vector>

#include <zlib.h>

namespace qr::test {

inline std::string RawDeflate(const std::string& data, int level = 6) {
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

inline uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(rng());
    return out;
}

inline std::string TextBytes(size_t n, uint32_t seed) {
    static const char* words[] = {"quorvel ", "patch ", "map ", "sword ", "guild ", "0123 ", "\n"};
    std::mt19937 rng(seed);
    std::string out;
    while (out.size() < n) out += words[rng() % 7];
    out.resize(n);
    return out;
}

struct ZipBuildEntry {
    std::string name;
    std::string data;
    bool deflate = false;
    // Deliberate damage: what the headers claim, or the payload as it is written.
    std::optional<uint32_t> crc, compressedSize, uncompressedSize, method, localHeaderOffset;
    std::optional<std::string> payload;
    uint16_t flags = 0;
    bool breakCentralSignature = false;
    bool breakLocalSignature = false;
};

class ZipBuilder {
public:
    ZipBuildEntry& Add(std::string name, std::string data, bool deflate = false) {
        entries_.push_back(ZipBuildEntry{});
        entries_.back().name = std::move(name);
        entries_.back().data = std::move(data);
        entries_.back().deflate = deflate;
        return entries_.back();
    }
    std::string stub;     // bytes before the archive; recorded offsets do not count them
    // Added to every recorded offset: a self-extractor whose offsets count from the start of the
    // whole file records them so (the stub itself may be written apart).
    uint32_t recordedBase = 0;
    std::string comment;  // archive comment after the end record
    std::optional<uint16_t> entryCountOverride;

    std::string Build() const {
        std::string body;
        std::vector<uint32_t> offsets;
        std::vector<std::string> payloads;
        for (const auto& e : entries_) {
            offsets.push_back(static_cast<uint32_t>(body.size()) + recordedBase);
            std::string payload = e.payload ? *e.payload : (e.deflate ? RawDeflate(e.data) : e.data);
            body += e.breakLocalSignature ? "PK\x03\x05" : "PK\x03\x04";
            Put16(body, 20);
            Put16(body, e.flags);
            Put16(body, Method(e));
            Put32(body, 0x5a2b0000);
            Put32(body, Crc(e));
            Put32(body, e.compressedSize.value_or(static_cast<uint32_t>(payload.size())));
            Put32(body, e.uncompressedSize.value_or(static_cast<uint32_t>(e.data.size())));
            Put16(body, static_cast<uint16_t>(e.name.size()));
            Put16(body, 4);
            body += e.name;
            body += std::string("\xfe\xca\x00\x00", 4);  // an extra field, so data does not follow the name
            body += payload;
            payloads.push_back(std::move(payload));
        }
        const auto centralOffset = static_cast<uint32_t>(body.size());
        for (size_t i = 0; i < entries_.size(); ++i) {
            const auto& e = entries_[i];
            body += e.breakCentralSignature ? "PK\x01\x03" : "PK\x01\x02";
            Put16(body, 0x031e);
            Put16(body, 20);
            Put16(body, e.flags);
            Put16(body, Method(e));
            Put32(body, 0x5a2b0000);
            Put32(body, Crc(e));
            Put32(body, e.compressedSize.value_or(static_cast<uint32_t>(payloads[i].size())));
            Put32(body, e.uncompressedSize.value_or(static_cast<uint32_t>(e.data.size())));
            Put16(body, static_cast<uint16_t>(e.name.size()));
            Put16(body, 0);
            Put16(body, 3);
            Put16(body, 0);
            Put16(body, 0);
            Put32(body, 0);
            Put32(body, e.localHeaderOffset.value_or(offsets[i]));
            body += e.name;
            body += "c#3";  // an entry comment, which the reader must step over
        }
        const auto centralSize = static_cast<uint32_t>(body.size() - centralOffset);
        const auto count = entryCountOverride.value_or(static_cast<uint16_t>(entries_.size()));
        body += "PK\x05\x06";
        Put16(body, 0);
        Put16(body, 0);
        Put16(body, count);
        Put16(body, count);
        Put32(body, centralSize);
        Put32(body, centralOffset + recordedBase);
        Put16(body, static_cast<uint16_t>(comment.size()));
        body += comment;
        return stub + body;
    }

private:
    static uint32_t Method(const ZipBuildEntry& e) { return e.method.value_or(e.deflate ? 8 : 0); }
    static uint32_t Crc(const ZipBuildEntry& e) { return e.crc.value_or(Crc32(e.data)); }
    static void Put16(std::string& out, uint32_t v) {
        out += static_cast<char>(v & 0xff);
        out += static_cast<char>((v >> 8) & 0xff);
    }
    static void Put32(std::string& out, uint32_t v) {
        Put16(out, v & 0xffff);
        Put16(out, v >> 16);
    }

    std::deque<ZipBuildEntry> entries_;  // stable references for Add()
};

}  // namespace qr::test
