// Names that arrive from the network (patch descriptions, archive entries) become paths under the
// install directory. The launcher runs elevated, so a name that could reach outside is refused.
#pragma once

#include <string>
#include <string_view>

namespace qr {

// True for a relative name that stays inside its base directory and is already in normal form:
// not empty, no leading "/" or "\", no drive letter or other ":" (also blocks NTFS streams), no "."
// or ".." component, no empty component, no control characters, no Windows device name, no
// component Windows would alias (trailing dot or blank). Either separator counts.
bool IsSafeRelativeName(std::string_view name);

// A name as tools write it ("./data/a.dat", "data//a.dat", "./"), reduced to the path it means.
struct NormalName {
    std::string path;       // "." and empty components dropped, separators kept as written
    bool isDirectory = false;  // ended in a separator, or names the base directory itself ("" path)
    std::string refusal;    // why the name may not become a path; empty when it may
};

// Drops "." and empty components, then applies every rule of IsSafeRelativeName to what is left.
// ".." anywhere, an absolute name and an empty raw name stay refused.
NormalName NormaliseRelativeName(std::string_view name);

// `text` with every control byte (below 0x20, and 0x7F) written as "\xNN", so that a name from the
// network printed to a terminal cannot move its cursor or send escape sequences; other bytes stay.
std::string PrintableText(std::string_view text);

}  // namespace qr
