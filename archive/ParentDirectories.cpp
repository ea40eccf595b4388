#include "archive/ArchiveExtraction.h"

#include <string_view>

namespace qr {
namespace {
// Names have always been limited to what a 512-byte prefix buffer holds with its terminator.
constexpr size_t kMaxNameBytes = 511;
}  // namespace

int MakeParentDirectories(const std::string& name, FileSystem& fs, KnownDirectories* known) {
    if (name.size() > kMaxNameBytes) return 0;
    const std::string_view whole(name);
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '/' && name[i] != '\\') continue;
        // The prefix keeps its separator, as it always has.
        const std::string_view prefix = whole.substr(0, i + 1);
        if (known && known->Contains(prefix)) continue;
        if (fs.MakeDirectory(std::string(prefix)) == MakeDirResult::Failed) return 0;
        if (known) known->Add(prefix);
    }
    return 1;
}

}  // namespace qr
