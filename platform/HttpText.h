// Small readings of HTTP text that both client adaptors need.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qr {

// ASCII case-insensitive prefix test (header names, URL schemes).
inline bool StartsWithNoCase(std::string_view s, std::string_view lowerPrefix) {
    if (s.size() < lowerPrefix.size()) return false;
    for (size_t i = 0; i < lowerPrefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

// ASCII case-insensitive equality (header names).
inline bool SameTextNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// A header line's name or value may not carry line breaks: they would start a header of their own.
inline bool IsSafeHeaderText(std::string_view text) {
    for (char c : text)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

// Only plain web addresses are fetched: no file://, ftp:// or other schemes from the patch list.
inline bool IsHttpUrl(std::string_view url) {
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

// The announced length when the header is a plain decimal number that fits in 63 bits. Anything
// else (a 20-digit length included) is no length at all: the adaptors fail such a response rather
// than read a body of unknown size.
inline std::optional<uint64_t> ParseContentLength(std::string_view text) {
    constexpr uint64_t kLargest = 0x7FFFFFFFFFFFFFFFull;
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > kLargest) return std::nullopt;
    return value;
}

}  // namespace qr
