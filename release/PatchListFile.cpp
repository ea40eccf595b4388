#include "release/PatchListFile.h"

#include "platform/FileSystem.h"
#include "release/ReleaseNames.h"

namespace qr {

void ReadPatchListValue(const std::string& patchListPath, int line, std::string& dest) {
    std::unique_ptr<ReadableFile> file = SystemFileSystem().OpenRead(patchListPath);
    if (!file) return;
    // Text mode: a carriage return right before a line feed is dropped, and the 200 examined bytes
    // are counted after that translation.
    char raw[2 * kPatchListExaminedBytes + 1];
    size_t got = 0;
    for (size_t n; got < sizeof raw && (n = file->ReadAt(got, raw + got, sizeof raw - got)) > 0;) got += n;
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
