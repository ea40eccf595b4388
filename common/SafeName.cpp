#include "common/SafeName.h"

#include <string>

namespace qr {
namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device, not a file, for these names whatever extension follows ("nul.txt").
bool IsDeviceName(std::string_view component) {
    std::string_view stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    std::string upper;
    for (char c : stem) upper += Upper(c);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '0' && upper[3] <= '9';
}

}  // namespace

bool IsSafeRelativeName(std::string_view name) {
    if (name.empty()) return false;
    if (name.front() == '/' || name.front() == '\\') return false;
    size_t componentStart = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        const bool atEnd = i == name.size();
        const char c = atEnd ? '/' : name[i];
        if (!atEnd) {
            const auto byte = static_cast<unsigned char>(c);
            // ':' carries drive letters and alternate data streams; control bytes are never file names.
            if (c == ':' || byte < 0x20) return false;
        }
        if (c == '/' || c == '\\') {
            std::string_view component = name.substr(componentStart, i - componentStart);
            // A trailing separator (directory entry) leaves an empty last component, which is fine;
            // "a//b" is not.
            if (component.empty() && !atEnd && i + 1 != name.size()) return false;
            if (component == "." || component == "..") return false;
            // Windows drops trailing dots and blanks, so "a." would alias "a"; devices are no files.
            if (!component.empty() && (component.back() == '.' || component.back() == ' ')) return false;
            if (!component.empty() && IsDeviceName(component)) return false;
            componentStart = i + 1;
        }
    }
    return true;
}

}  // namespace qr
