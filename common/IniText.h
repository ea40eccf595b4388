// Private-profile INI rules on in-memory text, for systems without the Windows profile functions.
// Lookup: section and key names compare case-insensitively (ASCII), blanks around names and values
// are trimmed, a value wrapped in matching quotes loses them, the first matching section and the
// first matching key in it win. Writing changes or inserts exactly one line and keeps the others.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qr {

// What every read of a missing file, section or key yields, through the INI store and the lookups
// over text alike.
inline constexpr const char kAbsent[] = "NULL";

std::optional<std::string> IniLookup(std::string_view text, std::string_view section, std::string_view key);

// `text` with section/key set to `value` (section and key created as needed).
std::string IniAssign(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value);

// Every section in file order with its key lines (comments and blank lines left out), read by the
// same rules as IniLookup: blanks trimmed, quotes stripped. A section named twice appears twice;
// lookups take the first.
struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
};
std::vector<IniSection> IniSections(std::string_view text);

}  // namespace qr
