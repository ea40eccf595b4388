#include "common/SafeName.h"

namespace qr {

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
            componentStart = i + 1;
        }
    }
    return true;
}

}  // namespace qr
