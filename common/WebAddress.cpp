#include "common/WebAddress.h"

#include <cstddef>

namespace qr {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(text[i]) != prefix[i]) return false;
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLabelChar(char c) { return IsDigit(c) || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z') || c == '-'; }

// At least two non-empty labels: a name without a dot ("intranet", "intranet.", a decimal IPv4
// number) lands in the browser's intranet zone, which logs on with the player's credentials.
bool IsDottedHost(std::string_view host) {
    int labels = 0;
    std::size_t start = 0;
    while (start <= host.size()) {
        std::size_t dot = host.find('.', start);
        if (dot == std::string_view::npos) dot = host.size();
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty() || label.front() == '-') return false;
        for (char c : label)
            if (!IsLabelChar(c)) return false;
        ++labels;
        start = dot + 1;
    }
    return labels >= 2;
}

bool IsPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    long value = 0;
    for (char c : port) {
        if (!IsDigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

bool IsWebPageAddress(std::string_view address) {
    // Browsers strip blanks and controls and read "\" as "/", so an address that needs any of that
    // could mean something other than what this check sees.
    for (char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '\\') return false;
    }
    std::size_t schemeEnd = 0;
    if (StartsWithNoCase(address, "http://"))
        schemeEnd = 7;
    else if (StartsWithNoCase(address, "https://"))
        schemeEnd = 8;
    else
        return false;
    const std::string_view rest = address.substr(schemeEnd);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos && !IsPort(authority.substr(colon + 1))) return false;
    return IsDottedHost(authority.substr(0, colon));
}

bool IsNewsNavigationAllowed(std::string_view address) {
    if (IsWebPageAddress(address)) return true;
    constexpr std::string_view blank = kBlankPageAddress;
    return address.size() == blank.size() && StartsWithNoCase(address, blank);
}

}  // namespace qr
