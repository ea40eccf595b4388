#include "archive/ArchiveExtraction.h"

namespace qr {
namespace {
// Names have always been limited to what a 512-byte prefix buffer holds with its terminator.
constexpr size_t kMaxNameBytes = 511;
}  // namespace

int MakeParentDirectories(const std::string& name, FileSystem& fs) {
    if (name.size() > kMaxNameBytes) return 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '/' && name[i] != '\\') continue;
        // The prefix keeps its separator, as it always has.
        if (fs.MakeDirectory(name.substr(0, i + 1)) == MakeDirResult::Failed) return 0;
    }
    return 1;
}

}  // namespace qr
