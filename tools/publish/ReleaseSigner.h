// Signs the exact bytes of a patch description with the operator's ECDSA P-256 key: a DER
// signature over their SHA-256, as "openssl dgst -sha256 -sign key.pem" makes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qr::publish {

// `keyPem` is the text of the private key file (SEC 1 "EC PRIVATE KEY" or PKCS #8 "PRIVATE KEY").
std::optional<std::string> SignRelease(const std::string& keyPem, std::string_view message, std::string& problem);

// Whether `derSignature` signs `message` under the public half of the same key; false with
// `problem` set when the key itself cannot be used.
bool SignatureMatchesKey(const std::string& keyPem, std::string_view message, std::string_view derSignature,
                         std::string& problem);

}  // namespace qr::publish
