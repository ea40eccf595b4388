#include "tools/publish/ReleaseIni.h"

namespace qr::publish {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

ReleaseIni ReleaseIni::Parse(std::string_view text) {
    ReleaseIni ini;
    IniSection* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        const std::string_view line = Trim(text.substr(pos, nl - pos));
        pos = nl + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close == std::string_view::npos) close = line.size();
            ini.sections_.push_back({std::string(Trim(line.substr(1, close - 1))), {}});
            current = &ini.sections_.back();
            continue;
        }
        if (!current) continue;  // lines before the first section belong to none
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            current->entries.emplace_back(std::string(line), std::string());
        else
            current->entries.emplace_back(std::string(Trim(line.substr(0, eq))),
                                          std::string(StripQuotes(Trim(line.substr(eq + 1)))));
    }
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
