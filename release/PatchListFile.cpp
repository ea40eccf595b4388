#include "release/PatchListFile.h"

#include <cstdio>

#include "release/ReleaseNames.h"

namespace qr {
namespace {

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
    char raw[2 * kPatchListExaminedBytes + 1];
    const size_t got = std::fread(raw, 1, sizeof raw, file.get());
    std::string data;
    for (size_t i = 0; i < got && data.size() < kPatchListExaminedBytes; ++i)
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

}  // namespace qr
