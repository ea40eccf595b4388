#include "common/SafeName.h"

namespace qr {
namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Windows opens a device, not a file, for these names whatever extension follows ("nul.txt").
bool IsDeviceName(std::string_view component) {
    std::string_view stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    std::string upper;
    for (char c : stem) upper += Upper(c);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$")
        return true;
    if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
    const std::string_view number = std::string_view(upper).substr(3);
    if (number.size() == 1) return number[0] >= '0' && number[0] <= '9';
    // Windows counts the superscripts one to three as digits here too; paths are code page 949,
    // where they are A9 F6 to A9 F8.
    return number.size() == 2 && static_cast<unsigned char>(number[0]) == 0xA9 &&
           static_cast<unsigned char>(number[1]) >= 0xF6 && static_cast<unsigned char>(number[1]) <= 0xF8;
}

// Why one non-empty component, other than ".", may not be part of a path; empty when it may.
std::string ComponentRefusal(std::string_view component) {
    if (component == "..") return "it climbs out of the install directory through \"..\"";
    for (char c : component) {
        // ':' carries drive letters and alternate data streams; control bytes are never file names.
        if (c == ':') return "it names a drive or a stream (\":\")";
        if (static_cast<unsigned char>(c) < 0x20) return "it holds a control character";
    }
    // Windows drops trailing dots and blanks, so "a." would alias "a"; devices are no files.
    if (component.back() == '.' || component.back() == ' ')
        return "Windows would drop the trailing dot or blank of \"" + std::string(component) + "\"";
    if (IsDeviceName(component)) return "\"" + std::string(component) + "\" is a Windows device name";
    return {};
}

}  // namespace

NormalName NormaliseRelativeName(std::string_view name) {
    NormalName out;
    if (name.empty()) {
        out.refusal = "the name is empty";
        return out;
    }
    if (IsSeparator(name.front())) {
        out.refusal = "the name is absolute";
        return out;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::string_view component = name.substr(start, end - start);
        const bool last = end == name.size();
        if (component.empty() || component == ".") {
            // Nothing to keep; a name that ends here ends in a directory.
            if (last) out.isDirectory = true;
        } else {
            out.refusal = ComponentRefusal(component);
            if (!out.refusal.empty()) {
                out.path.clear();
                out.isDirectory = false;
                return out;
            }
            out.path.append(component);
            if (!last) out.path += name[end];
        }
        start = end + 1;
    }
    // What is left of "./" or "." is the base directory itself.
    if (out.path.empty()) out.isDirectory = true;
    return out;
}

bool IsSafeRelativeName(std::string_view name) {
    const NormalName normal = NormaliseRelativeName(name);
    // Accepted only when normalising changed nothing: no "." or empty component was dropped.
    return normal.refusal.empty() && normal.path == name;
}

std::string PrintableText(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace qr
