// Signs test releases with the committed demo key, as `openssl dgst -sha256 -sign` does (native
// builds only: the Windows tests check signatures made here or by openssl).
#pragma once

#include <string>

namespace qr::test {

// The DER signature of `bytes` under tools/demo-keys/demo-release-key.pem; throws when it cannot sign.
std::string SignWithDemoKey(const std::string& bytes);
// tools/demo-keys/demo-release-key.pub.pem as text.
std::string DemoPublicKeyPem();

}  // namespace qr::test
