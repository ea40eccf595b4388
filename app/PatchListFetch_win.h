// The synchronous download of the patch list that the window makes before it exists.
#pragma once

#include <string>

namespace qr {

// Downloads `address` to `localPath`, always from the server. Any earlier copy is removed first,
// so a failed download leaves no stale list behind; one that fails or grows past the patch list's
// byte limit leaves none at all. The result is not reported: a missing list shows later as the
// worker's failure.
void FetchPatchList(const std::string& address, const std::string& localPath);

}  // namespace qr
