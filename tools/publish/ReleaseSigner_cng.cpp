#include "tools/publish/ReleaseSigner.h"

namespace qr::publish {

// Reading an operator's PEM key through CNG is not wired up yet; signing is done natively.
std::optional<std::string> SignRelease(const std::string&, std::string_view, std::string& problem) {
    problem = "this Windows build cannot sign yet: publish with the Linux build, or publish unsigned and sign "
              "with: openssl dgst -sha256 -sign KEY.pem -out PatchInfo.ini.sig PatchInfo.ini";
    return std::nullopt;
}

}  // namespace qr::publish
