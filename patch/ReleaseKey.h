// The release public key built into a program (PEM), or "" when it has none. Each program links one
// of the generated key libraries; the portable core takes the key through PatchWorkerContext.
#pragma once

namespace qr {

const char* BuiltInReleaseKeyPem();

}  // namespace qr
