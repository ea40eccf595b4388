#include "common/IniText.h"

#include <vector>

namespace qr {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

struct Line {
    size_t begin;  // offset of the first byte of the line
    size_t end;    // offset just past the line's terminator (or the end of the text)
    std::string_view content;  // without the terminator
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t contentEnd = nl == std::string_view::npos ? text.size() : nl;
        size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
        std::string_view content = text.substr(pos, contentEnd - pos);
        if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
        lines.push_back({pos, end, content});
        pos = end;
    }
    return lines;
}

// The section name of a header line "[name]", or nothing.
std::optional<std::string_view> SectionHeader(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string_view::npos) close = t.size();
    return Trim(t.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::optional<std::string_view> value;  // nothing for a line without "="
};

// A line without "=" is a key that has no value, as the Windows profile functions read it: a
// lookup that finds it first yields the default, and a write gives it its value.
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') return std::nullopt;  // blank line or comment
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return KeyLine{t, std::nullopt};
    return KeyLine{Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
}

std::string_view StripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

struct SectionSpan {
    size_t header = 0;         // index of the header line
    size_t endLine = 0;        // index of the first line after the section
    bool found = false;
};

SectionSpan FindSection(const std::vector<Line>& lines, std::string_view section) {
    SectionSpan span;
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionHeader(lines[i].content);
        if (!name) continue;
        if (span.found) {
            span.endLine = i;
            return span;
        }
        if (SameName(*name, section)) {
            span.found = true;
            span.header = i;
        }
    }
    if (span.found) span.endLine = lines.size();
    return span;
}

}  // namespace

std::optional<std::string> IniLookup(std::string_view text, std::string_view section, std::string_view key) {
    const auto lines = SplitLines(text);
    const SectionSpan span = FindSection(lines, Trim(section));
    if (!span.found) return std::nullopt;
    const std::string_view wanted = Trim(key);
    for (size_t i = span.header + 1; i < span.endLine; ++i) {
        auto entry = ParseKeyLine(lines[i].content);
        if (entry && SameName(entry->key, wanted)) {
            if (!entry->value) return std::nullopt;
            return std::string(StripQuotes(*entry->value));
        }
    }
    return std::nullopt;
}

std::string IniAssign(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view value) {
    const auto lines = SplitLines(text);
    const std::string_view wantedSection = Trim(section);
    const std::string_view wantedKey = Trim(key);
    // Follow the file's own line ending so an edited file stays consistent.
    const std::string eol = text.find("\r\n") != std::string_view::npos || text.empty() ? "\r\n" : "\n";
    const std::string newLine = std::string(wantedKey) + "=" + std::string(value) + eol;

    SectionSpan span = FindSection(lines, wantedSection);
    std::string out;
    if (!span.found) {
        out.assign(text);
        if (!out.empty() && out.back() != '\n') out += eol;
        out += "[" + std::string(wantedSection) + "]" + eol + newLine;
        return out;
    }
    size_t insertAfter = span.header;
    for (size_t i = span.header + 1; i < span.endLine; ++i) {
        if (!Trim(lines[i].content).empty()) insertAfter = i;
        auto entry = ParseKeyLine(lines[i].content);
        if (entry && SameName(entry->key, wantedKey)) {
            out.assign(text.substr(0, lines[i].begin));
            out += newLine;
            out.append(text.substr(lines[i].end));
            return out;
        }
    }
    const Line& anchor = lines[insertAfter];
    out.assign(text.substr(0, anchor.end));
    if (anchor.end == text.size() && (out.empty() || out.back() != '\n')) out += eol;
    out += newLine;
    out.append(text.substr(anchor.end));
    return out;
}

std::vector<IniSection> IniSections(std::string_view text) {
    std::vector<IniSection> sections;
    for (const Line& line : SplitLines(text)) {
        if (auto name = SectionHeader(line.content)) {
            sections.push_back({std::string(*name), {}});
            continue;
        }
        if (sections.empty()) continue;  // lines before the first section belong to none
        auto entry = ParseKeyLine(line.content);
        // A key without "=" has no value: lookups give the default, so it is no entry here either.
        if (entry && entry->value)
            sections.back().entries.emplace_back(std::string(entry->key), std::string(StripQuotes(*entry->value)));
    }
    return sections;
}

}  // namespace qr
