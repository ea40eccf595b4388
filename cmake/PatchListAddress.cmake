# The patch list address compiled into the launcher and quorvel-patch: QUORVEL_PATCH_LIST_ADDRESS
# whole (https:// for a patch list no network in between can rewrite), or, when that is empty,
# http://${QUORVEL_PATCH_HOST}/tzan/patch.txt. Sets QR_PATCH_LIST_ADDRESS_RESOLVED.
set(QUORVEL_PATCH_LIST_ADDRESS "" CACHE STRING
    "Whole compiled-in patch list address (http:// or https://); empty: http://<QUORVEL_PATCH_HOST>/tzan/patch.txt")

if(QUORVEL_PATCH_LIST_ADDRESS STREQUAL "")
  set(QR_PATCH_LIST_ADDRESS_RESOLVED "http://${QUORVEL_PATCH_HOST}/tzan/patch.txt")
  set(qr_address_origin "QUORVEL_PATCH_HOST \"${QUORVEL_PATCH_HOST}\"")
else()
  set(QR_PATCH_LIST_ADDRESS_RESOLVED "${QUORVEL_PATCH_LIST_ADDRESS}")
  set(qr_address_origin "QUORVEL_PATCH_LIST_ADDRESS")
endif()

# A host (letters, digits, "-", "."), an optional port, then a path of characters an address carries
# unescaped; nothing that could end the compiled string or the build's command line early.
set(qr_address_rule "^https?://[A-Za-z0-9.-]+(:[0-9]+)?(/[-A-Za-z0-9._~/?=&%+,:]*)?$")
if(NOT QR_PATCH_LIST_ADDRESS_RESOLVED MATCHES "${qr_address_rule}"
   OR QR_PATCH_LIST_ADDRESS_RESOLVED MATCHES "^https?://[.-]")
  message(FATAL_ERROR "the patch list address \"${QR_PATCH_LIST_ADDRESS_RESOLVED}\" (from ${qr_address_origin}) "
    "is not an http:// or https:// address of the form scheme://host[:port]/path with no blanks, "
    "user name or quotes, e.g. https://patch.example.com/tzan/patch.txt")
endif()
message(STATUS "Patch list address: ${QR_PATCH_LIST_ADDRESS_RESOLVED}")
