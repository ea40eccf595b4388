#include "patch/PatchList.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "common/Atoi.h"
#include "common/SafeName.h"
#include "patch/SettingsStore.h"

#ifndef QR_PATCH_LIST_ADDRESS
#define QR_PATCH_LIST_ADDRESS "http://patch.quorvel-rpg.example/tzan/patch.txt"
#endif

#ifndef QR_PATCH_LIST_OVERRIDE
#define QR_PATCH_LIST_OVERRIDE 1
#endif

namespace qr {
namespace {

constexpr size_t kExaminedBytes = 200;
constexpr int kLastKeyIndex = 999;

bool EndsWith(const std::string& text, const char* suffix) {
    const std::string s(suffix);
    return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

std::string NativePath(std::string path) {
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/';
#endif
    return path;
}

class StdFile {
public:
    explicit StdFile(const std::string& path) : file_(std::fopen(NativePath(path).c_str(), "rb")) {}
    ~StdFile() {
        if (file_) std::fclose(file_);
    }
    StdFile(const StdFile&) = delete;
    StdFile& operator=(const StdFile&) = delete;
    std::FILE* get() const { return file_; }

private:
    std::FILE* file_;
};

}  // namespace

void ReadPatchListValue(const std::string& patchListPath, int line, std::string& dest) {
    StdFile file(patchListPath);
    if (!file.get()) return;
    // Text mode: a carriage return right before a line feed is dropped, and the 200 examined bytes
    // are counted after that translation.
    char raw[2 * kExaminedBytes + 1];
    const size_t got = std::fread(raw, 1, sizeof raw, file.get());
    std::string data;
    for (size_t i = 0; i < got && data.size() < kExaminedBytes; ++i)
        if (!(raw[i] == '\r' && i + 1 < got && raw[i + 1] == '\n')) data += raw[i];
    // The work area is zero-filled and read as text, so a zero byte ends the data.
    data = data.substr(0, data.find('\0'));

    int counter = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '=' && counter == line) {
            const size_t end = data.find('\n', i + 1);
            dest = data.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
            return;
        }
        if (data[i] == '\n') ++counter;
    }
}

std::string PatchListAddress() {
    // With a release key built in the override only picks a mirror: what it brings must still be signed.
    if (QR_PATCH_LIST_OVERRIDE)
        if (const char* url = std::getenv("QUORVEL_PATCH_LIST_URL"); url && *url) return url;
    return QR_PATCH_LIST_ADDRESS;
}

int VersionNumber(const std::string& version) { return AtoiValue(version); }

std::string VersionSectionName(int version) {
    char name[16];
    // "%0.3d": at least three digits, zero-padded (the 0 flag is redundant with the precision).
    std::snprintf(name, sizeof name, "%.3d", version);
    return name;
}

DownloadListResult BuildDownloadList(const std::string& installedVersion, const std::string& remoteVersion,
                                     const PatchInfoLookup& lookup) {
    DownloadListResult result;
    if (remoteVersion == kAbsent) {
        result.remoteVersionMissing = true;
        return result;
    }
    if (installedVersion == remoteVersion) return result;
    // Stepping in 64 bits: a last version of INT_MAX must not wrap the loop.
    const long long first = static_cast<long long>(VersionNumber(installedVersion)) + 1;
    const long long last = VersionNumber(remoteVersion);
    std::unordered_set<std::string> seen;
    for (long long v = first; v <= last; ++v) {
        const std::string section = VersionSectionName(static_cast<int>(v));
        for (int k = 0; k <= kLastKeyIndex; ++k) {
            std::string name = lookup(section, std::to_string(k));
            if (name == kAbsent) break;
            if (!seen.insert(name).second) continue;
            if (!IsSafeRelativeName(name) && result.refusedName.empty()) result.refusedName = name;
            result.names.push_back(std::move(name));
            result.origins.push_back({section, std::to_string(k)});
        }
    }
    return result;
}

std::string ServerAddress(const std::string& patchBaseUrl, const std::string& name) {
    std::string address = patchBaseUrl + "/" + name;
    if (EndsWith(address, ".map")) address.replace(address.size() - 4, 4, ".bap");
    return address;
}

std::vector<std::string> DirectoriesToCreate(const std::string& name) {
    std::vector<std::string> dirs;
    for (size_t i = 0; i < name.size(); ++i)
        if (name[i] == '/') dirs.push_back(".\\" + name.substr(0, i) + "\\");
    return dirs;
}

std::string LocalTargetPath(const std::string& installDir, const std::string& name) { return installDir + name; }

bool IsArchiveAddress(const std::string& serverAddress) { return EndsWith(serverAddress, ".zip"); }

std::string ArchiveBaseName(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace qr
