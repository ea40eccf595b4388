#include "patch/ReleaseManifest.h"

#include <algorithm>
#include <unordered_map>

#include "common/SafeName.h"
#include "patch/IniText.h"
#include "patch/SettingsStore.h"

namespace qr {
namespace {

constexpr int kLastKeyIndex = 999;

using Entries = std::vector<std::pair<std::string, std::string>>;

// Section lookups as the INI rules have them: names without case, the first section of a name wins.
class SectionIndex {
public:
    explicit SectionIndex(const std::vector<IniSection>& sections) {
        for (const IniSection& s : sections) byName_.emplace(Lower(s.name), &s.entries);
    }
    const Entries* Find(const std::string& name) const {
        auto it = byName_.find(Lower(name));
        return it == byName_.end() ? nullptr : it->second;
    }
    static std::string Value(const Entries* entries, const std::string& key) {
        if (entries)
            for (const auto& [k, v] : *entries)
                if (Lower(k) == Lower(key)) return v;
        return kAbsent;
    }

private:
    static std::string Lower(std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return text;
    }
    std::unordered_map<std::string, const Entries*> byName_;
};

// Version numbers whose sections the description holds, in ascending order, up to `last`.
std::vector<int> DescribedVersions(const std::vector<IniSection>& sections, int last) {
    std::vector<int> versions;
    for (const IniSection& s : sections) {
        if (s.name.empty() || s.name.find_first_not_of("0123456789") != std::string::npos) continue;
        const int v = VersionNumber(s.name);
        if (v <= last && VersionSectionName(v) == s.name) versions.push_back(v);
    }
    std::sort(versions.begin(), versions.end());
    versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
    return versions;
}

}  // namespace

ReleaseManifest BuildReleaseManifest(std::string_view patchInfoText) {
    const std::vector<IniSection> sections = IniSections(patchInfoText);
    const SectionIndex index(sections);
    ReleaseManifest manifest;
    manifest.version = SectionIndex::Value(index.Find("VERSION"), "version");
    if (manifest.version == kAbsent) return manifest;

    std::map<std::string, ManifestFile> files;
    for (int v : DescribedVersions(sections, VersionNumber(manifest.version))) {
        const std::string section = VersionSectionName(v);
        const Entries* items = index.Find(section);
        const Entries* hashes = index.Find(HashSectionName(section));
        std::vector<std::string> archives;
        for (int k = 0; k <= kLastKeyIndex; ++k) {
            const std::string name = SectionIndex::Value(items, std::to_string(k));
            if (name == kAbsent) break;
            if (!IsSafeRelativeName(name)) {
                manifest.refused.push_back(name);
                continue;
            }
            const auto digest = ParseDigestLine(SectionIndex::Value(hashes, std::to_string(k)));
            if (digest) manifest.served[name] = *digest;
            if (IsArchiveAddress(ServerAddress("", name))) {
                archives.push_back(name);
                continue;
            }
            ManifestFile& file = files[name];
            file = ManifestFile{name, digest.has_value(), digest.value_or(FileDigest{}), false, {name}, v};
        }
        if (archives.empty()) continue;
        if (const Entries* contents = index.Find(ContentsSectionName(section))) {
            for (const auto& [entry, line] : *contents) {
                if (!IsSafeRelativeName(entry)) {
                    manifest.refused.push_back(entry);
                    continue;
                }
                const auto digest = ParseDigestLine(line);
                files[entry] = ManifestFile{entry, digest.has_value(), digest.value_or(FileDigest{}), true, archives, v};
            }
        }
    }
    for (auto& [name, file] : files) manifest.files.push_back(std::move(file));
    return manifest;
}

}  // namespace qr
