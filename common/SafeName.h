// Names that arrive from the network (patch descriptions, archive entries) become paths under the
// install directory. The launcher runs elevated, so a name that could reach outside is refused.
#pragma once

#include <string_view>

namespace qr {

// True for a relative name that stays inside its base directory: not empty, no leading "/" or "\",
// no drive letter or other ":" (also blocks NTFS streams), no "." or ".." component, no control
// characters. Either separator counts.
bool IsSafeRelativeName(std::string_view name);

}  // namespace qr
