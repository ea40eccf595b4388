// ECDSA P-256 signatures in their two encodings: DER (what openssl writes, a SEQUENCE of two INTEGERs)
// and raw r||s (what CNG takes and gives, each half 32 bytes big-endian). Portable; the DER side comes
// from the network, so decoding is strict and bounds-checked.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qr {

inline constexpr size_t kP256ScalarBytes = 32;
using EcdsaRawSignature = std::array<uint8_t, 2 * kP256ScalarBytes>;

// Absent unless `der` is exactly one minimal DER SEQUENCE of two positive INTEGERs that each fit in
// 32 bytes, with nothing after it.
std::optional<EcdsaRawSignature> EcdsaDerToRaw(std::string_view der);

// The minimal DER encoding of r||s (leading zero bytes dropped, a 0x00 added where the top bit is set).
std::string EcdsaRawToDer(const EcdsaRawSignature& raw);

}  // namespace qr
