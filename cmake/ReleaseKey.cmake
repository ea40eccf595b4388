# The release public key becomes a generated source at configure time: one small library per key,
# each defining BuiltInReleaseKeyPem(). An empty path builds a library without a key.
set(QR_P256_SPKI_BASE64_PREFIX "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")

function(qr_release_key_library target pem_path)
  set(pem "")
  if(pem_path)
    if(NOT EXISTS "${pem_path}")
      message(FATAL_ERROR "release key ${pem_path} does not exist")
    endif()
    file(READ "${pem_path}" pem)
    string(REPLACE "\r" "" pem "${pem}")
    string(STRIP "${pem}" pem)
    # Only an uncompressed P-256 SubjectPublicKeyInfo (as `openssl ec -pubout` writes) is a release key.
    if(NOT pem MATCHES "^-----BEGIN PUBLIC KEY-----\n${QR_P256_SPKI_BASE64_PREFIX}[A-Za-z0-9+/=\n]+\n-----END PUBLIC KEY-----$")
      message(FATAL_ERROR "release key ${pem_path} is not a P-256 public key in PEM (openssl ec -pubout)")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem_path}")
    string(REPLACE "\n" "\\n" pem "${pem}")
    string(APPEND pem "\\n")
  endif()
  set(source "${CMAKE_BINARY_DIR}/generated/${target}.cpp")
  file(CONFIGURE OUTPUT "${source}" CONTENT
"// Generated at configure time from the release key; do not edit.
#include \"patch/ReleaseKey.h\"

namespace qr {

const char* BuiltInReleaseKeyPem() { return \"@pem@\"; }

}  // namespace qr
" @ONLY)
  add_library(${target} STATIC "${source}")
  qr_defaults(${target})
endfunction()
