// Benchmark driver for archive extraction. Each mode prints its own wall time in seconds:
//   extract <archive> <dir>  our ExtractArchive into <dir>, then the durable barrier (syncfs)
//   extract-unsynced <archive> <dir>    the same without the barrier
//   extract-fsync-each <archive> <dir>  the barrier's alternative: fsync of every file and
//                            directory written, one by one, after the extraction
//   inflate <archive>        the ceiling: zlib raw inflate of every entry, archive already in memory
//   write <archive> <dir>    the cost of writing the files: every entry, inflated beforehand, written
//                            through the same file layer the extraction uses
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>
#include <zlib.h>

#include "archive/ArchiveExtraction.h"
#include "release/ReleaseNames.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
    std::string name;
    uint32_t method, compressedSize, uncompressedSize, dataOffset;
};

uint32_t Le16(const std::string& b, size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
uint32_t Le32(const std::string& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A plain directory walk for well-formed archives (the benchmark makes its own).
std::vector<Entry> ListEntries(const std::string& zip) {
    const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
    std::vector<Entry> entries;
    if (end == std::string::npos) return entries;
    size_t pos = Le32(zip, end + 16);
    for (uint32_t i = 0, n = Le16(zip, end + 10); i < n; ++i) {
        Entry e;
        e.method = Le16(zip, pos + 10);
        e.compressedSize = Le32(zip, pos + 20);
        e.uncompressedSize = Le32(zip, pos + 24);
        const uint32_t nameLength = Le16(zip, pos + 28);
        e.name = zip.substr(pos + 46, nameLength);
        const uint32_t local = Le32(zip, pos + 42);
        e.dataOffset = local + 30 + Le16(zip, local + 26) + Le16(zip, local + 28);
        pos += 46 + nameLength + Le16(zip, pos + 30) + Le16(zip, pos + 32);
        entries.push_back(e);
    }
    return entries;
}

bool InflateEntry(z_stream& s, const std::string& zip, const Entry& e, unsigned char* out) {
    if (e.method == 0) {
        std::memcpy(out, zip.data() + e.dataOffset, e.uncompressedSize);
        return true;
    }
    inflateReset(&s);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + e.dataOffset));
    s.avail_in = e.compressedSize;
    s.next_out = out;
    s.avail_out = e.uncompressedSize;
    return inflate(&s, Z_FINISH) == Z_STREAM_END;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int Inflate(const std::string& archive) {
    const std::string zip = ReadWhole(archive);
    const std::vector<Entry> entries = ListEntries(zip);
    uint32_t largest = 0;
    for (const auto& e : entries) largest = std::max(largest, e.uncompressedSize);
    std::vector<unsigned char> out(largest + 1);
    z_stream s{};
    inflateInit2(&s, -15);
    const auto start = Clock::now();
    for (const auto& e : entries)
        if (!InflateEntry(s, zip, e, out.data())) return std::fprintf(stderr, "inflate failed: %s\n", e.name.c_str()), 1;
    const double elapsed = Seconds(start);
    inflateEnd(&s);
    std::printf("%.4f\n", elapsed);
    return 0;
}

int Write(const std::string& archive, const std::string& dir) {
    const std::string zip = ReadWhole(archive);
    const std::vector<Entry> entries = ListEntries(zip);
    std::vector<std::string> contents;
    z_stream s{};
    inflateInit2(&s, -15);
    for (const auto& e : entries) {
        std::string data(e.uncompressedSize + 1, '\0');
        InflateEntry(s, zip, e, reinterpret_cast<unsigned char*>(&data[0]));
        data.pop_back();
        contents.push_back(std::move(data));
    }
    inflateEnd(&s);
    qr::FileSystem& fs = qr::SystemFileSystem();
    if (!fs.ChangeDirectory(dir)) return 1;
    const auto start = Clock::now();
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string& name = entries[i].name;
        qr::MakeParentDirectories(name, fs);
        if (name.back() == '/') continue;
        auto file = fs.Create(name);
        if (!file) return std::fprintf(stderr, "cannot create %s\n", name.c_str()), 1;
        for (size_t at = 0; at < contents[i].size(); at += 65536)
            file->Write(contents[i].data() + at, std::min<size_t>(65536, contents[i].size() - at));
        file->Close();
    }
    std::printf("%.4f\n", Seconds(start));
    return 0;
}

enum class Barrier { Syncfs, None, FsyncEach };

int FsyncOne(const char* path, const struct stat*, int type, struct FTW*) {
    const int fd = ::open(path, (type == FTW_D ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return 1;
    const int rc = ::fsync(fd);
    ::close(fd);
    return rc == 0 ? 0 : 1;
}

int Extract(const std::string& archive, const std::string& dir, Barrier barrier) {
    qr::FileSystem& fs = qr::SystemFileSystem();
    if (!fs.ChangeDirectory(dir)) return 1;
    std::atomic<bool> run{true};
    std::atomic<int> done{0}, total{0};
    const auto start = Clock::now();
    const qr::ExtractOutcome outcome = qr::ExtractArchive(archive, qr::LauncherExtractNaming(), &run, &done, &total);
    bool durable = true;
    if (barrier == Barrier::Syncfs) durable = fs.MakeDurable(".");
    if (barrier == Barrier::FsyncEach) durable = ::nftw(".", FsyncOne, 64, FTW_PHYS) == 0;
    const double elapsed = Seconds(start);
    if (outcome.status != qr::ExtractStatus::Complete) return std::fprintf(stderr, "%s\n", outcome.reason.c_str()), 1;
    if (!durable) return std::fprintf(stderr, "the barrier failed\n"), 1;
    std::printf("%.4f\n", elapsed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "inflate" && argc == 3) return Inflate(argv[2]);
    if (mode == "write" && argc == 4) return Write(argv[2], argv[3]);
    if (mode == "extract" && argc == 4) return Extract(argv[2], argv[3], Barrier::Syncfs);
    if (mode == "extract-unsynced" && argc == 4) return Extract(argv[2], argv[3], Barrier::None);
    if (mode == "extract-fsync-each" && argc == 4) return Extract(argv[2], argv[3], Barrier::FsyncEach);
    std::fprintf(stderr, "usage: qr_zip_bench extract|extract-unsynced|extract-fsync-each|write <archive> <dir> | inflate <archive>\n");
    return 2;
}
