// Where the launcher finds its patch list.
#pragma once

#include <string>

namespace qr {

// The compiled-in patch list address, or QUORVEL_PATCH_LIST_URL when that is set and the build
// honours it (QR_PATCH_LIST_OVERRIDE).
std::string PatchListAddress();

}  // namespace qr
