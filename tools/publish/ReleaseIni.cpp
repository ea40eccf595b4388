#include "tools/publish/ReleaseIni.h"

namespace qr::publish {

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

// Read by the launcher's own INI rules, so the tool reasons about exactly what launchers read.
ReleaseIni ReleaseIni::Parse(std::string_view text) {
    ReleaseIni ini;
    ini.sections_ = IniSections(text);
    return ini;
}

std::string ReleaseIni::Format() const {
    std::string out;
    for (const IniSection& section : sections_) {
        if (!out.empty()) out += "\r\n";
        out += "[" + section.name + "]\r\n";
        for (const auto& [key, value] : section.entries) out += key + "=" + value + "\r\n";
    }
    return out;
}

const IniSection* ReleaseIni::Find(std::string_view section) const {
    for (const IniSection& s : sections_)
        if (SameNameIgnoringCase(s.name, section)) return &s;
    return nullptr;
}

IniSection* ReleaseIni::FindMutable(std::string_view section) {
    for (IniSection& s : sections_)
        if (SameNameIgnoringCase(s.name, section)) return &s;
    return nullptr;
}

std::optional<std::string> ReleaseIni::Lookup(std::string_view section, std::string_view key) const {
    const IniSection* s = Find(section);
    if (!s) return std::nullopt;
    for (const auto& [k, v] : s->entries)
        if (SameNameIgnoringCase(k, key)) return v;
    return std::nullopt;
}

IniSection& ReleaseIni::Ensure(const std::string& section) {
    if (IniSection* s = FindMutable(section)) return *s;
    sections_.push_back({section, {}});
    return sections_.back();
}

void ReleaseIni::Set(const std::string& section, const std::string& key, const std::string& value) {
    IniSection& s = Ensure(section);
    for (auto& [k, v] : s.entries)
        if (SameNameIgnoringCase(k, key)) {
            v = value;
            return;
        }
    s.entries.emplace_back(key, value);
}

}  // namespace qr::publish
