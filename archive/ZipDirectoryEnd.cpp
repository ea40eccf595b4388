#include "archive/ZipDirectoryEnd.h"

#include <algorithm>

#include "archive/ZipFormat.h"

namespace qr {
namespace {
constexpr uint32_t kSearchWindow = 65535;  // the largest end record plus comment
constexpr uint32_t kBlockSize = 1028;
constexpr uint32_t kBlockStep = 1024;  // blocks overlap by 4 so a signature across a step is seen
}  // namespace

std::optional<uint32_t> FindDirectoryEnd(ReadableFile& file) {
    const uint64_t fileSize = file.Size();
    if (fileSize > UINT32_MAX) return std::nullopt;
    const auto size = static_cast<uint32_t>(fileSize);
    const uint32_t window = std::min(kSearchWindow, size);
    if (window <= 4) return std::nullopt;

    unsigned char block[kBlockSize];
    uint32_t searchedBack = 4;
    while (searchedBack < window) {
        searchedBack = std::min(searchedBack + kBlockStep, window);
        const uint32_t start = size - searchedBack;
        const size_t got = file.ReadAt(start, block, std::min(kBlockSize, searchedBack));
        if (got < 4) continue;
        // Backwards, so the occurrence nearest the end of the file wins.
        for (size_t i = got - 4 + 1; i-- > 0;)
            if (zip::Le32(block + i) == zip::kEndRecordSignature) return start + static_cast<uint32_t>(i);
    }
    return std::nullopt;
}

}  // namespace qr
