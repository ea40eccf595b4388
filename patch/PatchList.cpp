#include "patch/PatchList.h"

#include <cstdlib>

#ifndef QR_PATCH_LIST_ADDRESS
#define QR_PATCH_LIST_ADDRESS "http://patch.quorvel-rpg.example/tzan/patch.txt"
#endif

#ifndef QR_PATCH_LIST_OVERRIDE
#define QR_PATCH_LIST_OVERRIDE 1
#endif

namespace qr {

std::string PatchListAddress() {
    // With a release key built in the override only picks a mirror: what it brings must still be signed.
    if (QR_PATCH_LIST_OVERRIDE)
        if (const char* url = std::getenv("QUORVEL_PATCH_LIST_URL"); url && *url) return url;
    return QR_PATCH_LIST_ADDRESS;
}

}  // namespace qr
