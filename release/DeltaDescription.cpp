#include "release/DeltaDescription.h"

#include "release/ReleaseNames.h"

namespace qr {
namespace {

constexpr char kDeltaSectionMark[] = ".deltas.";
constexpr char kWholeTag[] = "zstd";
constexpr char kDeltaTag[] = "zstd-delta";
constexpr char kRecordSeparator = ';';

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// "<sha256> <size>" from two blank-separated fields.
std::optional<FileDigest> DigestOf(std::string_view sha, std::string_view size) {
    std::string line(sha);
    line += ' ';
    line += size;
    return ParseDigestLine(line);
}

bool IsDeltaSection(const std::string& name) {
    const size_t mark = name.find(kDeltaSectionMark);
    if (mark == std::string::npos || mark == 0) return false;
    const std::string version = name.substr(0, mark);
    const std::string chunk = name.substr(mark + sizeof kDeltaSectionMark - 1);
    const auto digits = [](const std::string& t) {
        return !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
    };
    return digits(version) && digits(chunk);
}

void ReadRecord(std::string_view record, NameDeltas& into) {
    const std::vector<std::string_view> f = Split(record, ' ');
    if (f.size() == 4 && f[0] == kWholeTag && !into.whole) {
        const auto served = DigestOf(f[1], f[2]);
        if (served && IsDeltaServedName(f[3])) into.whole = CompressedWhole{*served, std::string(f[3])};
    } else if (f.size() == 6 && f[0] == kDeltaTag && into.deltas.size() < kMaxDeltasPerName) {
        const auto source = DigestOf(f[1], f[2]);
        const auto served = DigestOf(f[3], f[4]);
        if (source && served && IsDeltaServedName(f[5]))
            into.deltas.push_back(DescribedDelta{*source, *served, DeltaMethod::ZstdSegmented, std::string(f[5])});
    }
    // Anything else is a method this launcher does not know, or damage: left out, never guessed at.
}

}  // namespace

std::string DeltaSectionName(const std::string& versionSection, size_t chunk) {
    return versionSection + kDeltaSectionMark + std::to_string(chunk);
}

std::optional<NameDeltas> ParseDeltaLine(std::string_view value) {
    const std::vector<std::string_view> records = Split(value, kRecordSeparator);
    const std::vector<std::string_view> head = Split(records[0], ' ');
    if (head.size() != 2) return std::nullopt;
    const auto newest = DigestOf(head[0], head[1]);
    if (!newest) return std::nullopt;
    NameDeltas deltas;
    deltas.newest = *newest;
    for (size_t i = 1; i < records.size(); ++i) ReadRecord(records[i], deltas);
    return deltas;
}

std::string FormatDeltaLine(const NameDeltas& deltas) {
    std::string line = FormatDigestLine(deltas.newest);
    if (deltas.whole)
        line += std::string(1, kRecordSeparator) + kWholeTag + " " + FormatDigestLine(deltas.whole->served) + " " +
                deltas.whole->servedName;
    for (const DescribedDelta& d : deltas.deltas)
        line += std::string(1, kRecordSeparator) + kDeltaTag + " " + FormatDigestLine(d.source) + " " +
                FormatDigestLine(d.served) + " " + d.servedName;
    return line;
}

std::map<std::string, NameDeltas> ReadDeltaCatalog(const DescriptionText& ini, const ReleaseManifest& manifest) {
    std::map<std::string, NameDeltas> catalog;
    if (manifest.version == kAbsent) return catalog;
    std::map<std::string, const ManifestFile*> signedFiles;
    for (const ManifestFile& file : manifest.files)
        if (file.hasDigest) signedFiles.emplace(file.name, &file);
    const std::string version = VersionSectionName(VersionNumber(manifest.version));
    for (size_t chunk = 0;; ++chunk) {
        const IniSection* section = ini.Find(DeltaSectionName(version, chunk));
        if (!section) break;
        for (const auto& [name, value] : section->entries) {
            // Only names the description signs, at the content it signs: a line can offer a cheaper way
            // to the signed bytes, never other bytes.
            auto file = signedFiles.find(name);
            if (file == signedFiles.end()) continue;
            std::optional<NameDeltas> deltas = ParseDeltaLine(value);
            if (!deltas || !SameContent(deltas->newest, file->second->digest)) continue;
            catalog.emplace(name, std::move(*deltas));  // the first line of a name wins, as INI lookups do
        }
    }
    return catalog;
}

std::map<std::string, NameDeltas> ReadDeltaCatalog(std::string_view patchInfoText) {
    const DescriptionText ini = DescriptionText::Parse(patchInfoText);
    return ReadDeltaCatalog(ini, BuildReleaseManifest(ini));
}

void WriteDeltaCatalog(DescriptionText& ini, const std::string& versionSection,
                       const std::map<std::string, NameDeltas>& catalog) {
    ini.RemoveSections(IsDeltaSection);
    size_t line = 0;
    for (const auto& [name, deltas] : catalog) {
        ini.Set(DeltaSectionName(versionSection, line / kDeltaLinesPerSection), name, FormatDeltaLine(deltas));
        ++line;
    }
}

}  // namespace qr
