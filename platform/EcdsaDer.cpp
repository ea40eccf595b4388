#include "platform/EcdsaDer.h"

namespace qr {
namespace {

constexpr uint8_t kSequenceTag = 0x30;
constexpr uint8_t kIntegerTag = 0x02;

// Reads one INTEGER at `at` into a 32-byte big-endian slot; moves `at` past it.
bool ReadScalar(std::string_view der, size_t& at, uint8_t* slot) {
    if (der.size() - at < 2 || static_cast<uint8_t>(der[at]) != kIntegerTag) return false;
    const size_t length = static_cast<uint8_t>(der[at + 1]);
    at += 2;
    // Short-form length only: a scalar needs at most 33 bytes, and DER forbids the long form below 128.
    if (length == 0 || length > kP256ScalarBytes + 1 || der.size() - at < length) return false;
    const auto byteAt = [&](size_t i) { return static_cast<uint8_t>(der[at + i]); };
    if (byteAt(0) & 0x80) return false;  // negative
    size_t skip = 0;
    if (byteAt(0) == 0x00) {
        // A leading zero is allowed only to keep the next byte's top bit from reading as a sign.
        if (length == 1 || !(byteAt(1) & 0x80)) return false;
        skip = 1;
    }
    const size_t digits = length - skip;
    if (digits > kP256ScalarBytes) return false;
    for (size_t i = 0; i < kP256ScalarBytes - digits; ++i) slot[i] = 0;
    for (size_t i = 0; i < digits; ++i) slot[kP256ScalarBytes - digits + i] = byteAt(skip + i);
    at += length;
    // Zero is never a valid r or s; refusing it here spares the verifier a degenerate input.
    for (size_t i = 0; i < kP256ScalarBytes; ++i)
        if (slot[i] != 0) return true;
    return false;
}

void AppendScalar(std::string& out, const uint8_t* scalar) {
    size_t first = 0;
    while (first + 1 < kP256ScalarBytes && scalar[first] == 0) ++first;
    const bool pad = (scalar[first] & 0x80) != 0;
    out.push_back(static_cast<char>(kIntegerTag));
    out.push_back(static_cast<char>(kP256ScalarBytes - first + (pad ? 1 : 0)));
    if (pad) out.push_back('\0');
    out.append(reinterpret_cast<const char*>(scalar + first), kP256ScalarBytes - first);
}

}  // namespace

std::optional<EcdsaRawSignature> EcdsaDerToRaw(std::string_view der) {
    if (der.size() < 2 || static_cast<uint8_t>(der[0]) != kSequenceTag) return std::nullopt;
    const size_t bodyLength = static_cast<uint8_t>(der[1]);
    // The longest body (two 35-byte INTEGERs) is 70 bytes, so the length is always in short form.
    if (bodyLength & 0x80 || bodyLength != der.size() - 2) return std::nullopt;
    EcdsaRawSignature raw{};
    size_t at = 2;
    if (!ReadScalar(der, at, raw.data()) || !ReadScalar(der, at, raw.data() + kP256ScalarBytes)) return std::nullopt;
    if (at != der.size()) return std::nullopt;
    return raw;
}

std::string EcdsaRawToDer(const EcdsaRawSignature& raw) {
    std::string body;
    AppendScalar(body, raw.data());
    AppendScalar(body, raw.data() + kP256ScalarBytes);
    std::string der;
    der.push_back(static_cast<char>(kSequenceTag));
    der.push_back(static_cast<char>(body.size()));
    return der + body;
}

}  // namespace qr
