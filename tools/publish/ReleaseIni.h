// The patch description as the publishing tool edits it: sections and their key lines in file
// order. Lookups follow the launcher's INI rules (names compare case-insensitively, the first
// section and the first key of a name win), so what the tool reasons about is what launchers read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "patch/IniText.h"

namespace qr::publish {

using qr::IniSection;

class ReleaseIni {
public:
    static ReleaseIni Parse(std::string_view text);
    // "[name]" and "key=value" lines ended by CR LF, a blank line between sections.
    std::string Format() const;

    std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;
    const IniSection* Find(std::string_view section) const;
    IniSection& Ensure(const std::string& section);
    // Changes the first key of that name, or appends it.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    const std::vector<IniSection>& sections() const { return sections_; }

private:
    IniSection* FindMutable(std::string_view section);
    std::vector<IniSection> sections_;
};

bool SameNameIgnoringCase(std::string_view a, std::string_view b);
std::string AsciiLower(std::string_view text);

}  // namespace qr::publish
