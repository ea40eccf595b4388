#include "release/ReleaseDescription.h"

#include <algorithm>
#include <unordered_set>

#include "release/ReleaseNames.h"

namespace qr {
namespace {

constexpr const char kHashSectionSuffix[] = ".sha256";
constexpr const char kContentsSectionSuffix[] = ".contents";
constexpr const char kRemovedSectionSuffix[] = ".removed";

ItemDigest ReadItemDigest(const PatchInfoLookup& lookup, const ItemOrigin& origin) {
    ItemDigest result;
    const std::string line = lookup(HashSectionName(origin.section), origin.key);
    if (line == kAbsent) return result;
    const auto digest = ParseDigestLine(line);
    result.state = digest ? DigestLineState::Present : DigestLineState::Malformed;
    if (digest) result.digest = *digest;
    return result;
}

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

bool SameContent(const FileDigest& a, const FileDigest& b) { return a.size == b.size && a.sha256Hex == b.sha256Hex; }

std::string HashSectionName(const std::string& versionSection) { return versionSection + kHashSectionSuffix; }

std::string ContentsSectionName(const std::string& versionSection) {
    return versionSection + kContentsSectionSuffix;
}

std::string RemovedSectionName(const std::string& versionSection) {
    return versionSection + kRemovedSectionSuffix;
}

std::optional<FileDigest> ParseDigestLine(std::string_view value) {
    constexpr size_t kHexLength = 64;
    if (value.size() < kHexLength + 2 || value[kHexLength] != ' ') return std::nullopt;
    FileDigest digest;
    for (size_t i = 0; i < kHexLength; ++i) {
        const char c = value[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    }
    digest.sha256Hex.assign(value.substr(0, kHexLength));
    const std::string_view sizeText = value.substr(kHexLength + 1);
    if (sizeText.size() > 1 && sizeText[0] == '0') return std::nullopt;
    constexpr uint64_t kLimit = (uint64_t{1} << 63) - 1;
    uint64_t size = 0;
    for (char c : sizeText) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (size > (kLimit - digit) / 10) return std::nullopt;
        size = size * 10 + digit;
    }
    digest.size = size;
    return digest;
}

std::string FormatDigestLine(const FileDigest& digest) { return digest.sha256Hex + " " + std::to_string(digest.size); }

// Read by the launcher's own INI rules, so what the tools reason about is what launchers read.
DescriptionText DescriptionText::Parse(std::string_view text) {
    DescriptionText ini;
    ini.sections_ = IniSections(text);
    ini.keyIndex_.resize(ini.sections_.size());
    for (size_t s = 0; s < ini.sections_.size(); ++s) {
        ini.sectionIndex_.emplace(AsciiLower(ini.sections_[s].name), s);
        for (size_t e = 0; e < ini.sections_[s].entries.size(); ++e) ini.Index(s, e);
    }
    return ini;
}

void DescriptionText::Index(size_t section, size_t entry) {
    keyIndex_[section].emplace(AsciiLower(sections_[section].entries[entry].first), entry);
}

std::string DescriptionText::Format() const {
    std::string out;
    for (const IniSection& section : sections_) {
        if (!out.empty()) out += "\r\n";
        out += "[" + section.name + "]\r\n";
        for (const auto& [key, value] : section.entries) out += key + "=" + value + "\r\n";
    }
    return out;
}

const IniSection* DescriptionText::Find(std::string_view section) const {
    auto it = sectionIndex_.find(AsciiLower(section));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::optional<std::string> DescriptionText::Lookup(std::string_view section, std::string_view key) const {
    auto s = sectionIndex_.find(AsciiLower(section));
    if (s == sectionIndex_.end()) return std::nullopt;
    const auto& keys = keyIndex_[s->second];
    auto k = keys.find(AsciiLower(key));
    if (k == keys.end()) return std::nullopt;
    return sections_[s->second].entries[k->second].second;
}

std::string DescriptionText::operator()(const std::string& section, const std::string& key) const {
    return Lookup(section, key).value_or(kAbsent);
}

IniSection& DescriptionText::Ensure(const std::string& section) {
    auto [it, fresh] = sectionIndex_.emplace(AsciiLower(section), sections_.size());
    if (fresh) {
        sections_.push_back({section, {}});
        keyIndex_.emplace_back();
    }
    return sections_[it->second];
}

void DescriptionText::Set(const std::string& section, const std::string& key, const std::string& value) {
    Ensure(section);
    const size_t s = sectionIndex_.at(AsciiLower(section));
    auto& keys = keyIndex_[s];
    if (auto k = keys.find(AsciiLower(key)); k != keys.end()) {
        sections_[s].entries[k->second].second = value;
        return;
    }
    sections_[s].entries.emplace_back(key, value);
    Index(s, sections_[s].entries.size() - 1);
}

void DescriptionText::RemoveSections(const std::function<bool(const std::string&)>& which) {
    std::vector<IniSection> kept;
    for (IniSection& section : sections_)
        if (!which(section.name)) kept.push_back(std::move(section));
    sections_.clear();
    sectionIndex_.clear();
    keyIndex_.clear();
    keyIndex_.resize(kept.size());
    sections_ = std::move(kept);
    for (size_t s = 0; s < sections_.size(); ++s) {
        sectionIndex_.emplace(AsciiLower(sections_[s].name), s);
        for (size_t e = 0; e < sections_[s].entries.size(); ++e) Index(s, e);
    }
}

DownloadListResult BuildDownloadList(const std::string& installedVersion, const std::string& remoteVersion,
                                     const PatchInfoLookup& lookup) {
    DownloadListResult result;
    if (remoteVersion == kAbsent) {
        result.remoteVersionMissing = true;
        return result;
    }
    if (installedVersion == remoteVersion) return result;
    // Stepping in 64 bits: a last version of INT_MAX must not wrap the loop.
    const long long first = static_cast<long long>(VersionNumber(installedVersion)) + 1;
    const long long last = VersionNumber(remoteVersion);
    std::unordered_set<std::string> seen;
    for (long long v = first; v <= last; ++v) {
        const std::string section = VersionSectionName(static_cast<int>(v));
        for (int k = 0; k <= kLastItemKey; ++k) {
            const std::string written = lookup(section, std::to_string(k));
            if (written == kAbsent) break;
            ItemName item = TakeItemName(written);
            if (item.isDirectory) {
                // No file can be written for it: the run cannot bring what the version promises.
                result.unwritable.push_back(std::move(item.name));
                continue;
            }
            if (!seen.insert(item.name).second) continue;
            if (!item.refusal.empty() && result.refusedName.empty()) result.refusedName = item.name;
            ItemOrigin origin{section, std::to_string(k)};
            result.digests.push_back(ReadItemDigest(lookup, origin));
            result.names.push_back(std::move(item.name));
            result.origins.push_back(std::move(origin));
        }
    }
    return result;
}

ReleaseManifest BuildReleaseManifest(std::string_view patchInfoText) {
    return BuildReleaseManifest(DescriptionText::Parse(patchInfoText));
}

ReleaseManifest BuildReleaseManifest(const DescriptionText& ini) {
    ReleaseManifest manifest;
    manifest.version = ini("VERSION", "version");
    if (manifest.version == kAbsent) return manifest;

    std::map<std::string, ManifestFile> files;
    for (int v : DescribedVersions(ini.sections(), VersionNumber(manifest.version))) {
        const std::string section = VersionSectionName(v);
        const std::string hashes = HashSectionName(section);
        std::vector<std::string> archives;
        for (int k = 0; k <= kLastItemKey; ++k) {
            const std::string written = ini(section, std::to_string(k));
            if (written == kAbsent) break;
            // Read as the patch run reads it, so verify checks the file the run wrote.
            ItemName item = TakeItemName(written);
            if (!item.refusal.empty()) {
                manifest.refused.push_back(std::move(item.name));
                continue;
            }
            const std::string& name = item.name;
            const auto digest = ParseDigestLine(ini(hashes, std::to_string(k)));
            if (digest) manifest.served[name] = *digest;
            if (IsArchiveItem(name)) {
                archives.push_back(name);
                continue;
            }
            files[name] = ManifestFile{name, digest.has_value(), digest.value_or(FileDigest{}), false, {name}, v};
        }
        if (archives.empty()) continue;
        if (const IniSection* contents = ini.Find(ContentsSectionName(section))) {
            std::vector<std::string> entries;
            for (const auto& [entry, line] : contents->entries) {
                if (!IsAcceptedGameFile(entry)) {
                    manifest.refused.push_back(entry);
                    continue;
                }
                const auto digest = ParseDigestLine(line);
                files[entry] = ManifestFile{entry, digest.has_value(), digest.value_or(FileDigest{}), true, archives, v};
                entries.push_back(entry);
            }
            if (entries.size() == contents->entries.size())
                for (const std::string& archive : archives) manifest.archiveEntries[archive] = entries;
        }
    }
    for (auto& [name, file] : files) manifest.files.push_back(std::move(file));
    return manifest;
}

void WriteNewVersion(DescriptionText& ini, const NewVersion& version) {
    const std::string hashes = HashSectionName(version.section);
    ini.Set("VERSION", "version", version.section);
    ini.Ensure(version.section);
    ini.Ensure(hashes);
    size_t key = 0;
    for (const std::string& name : version.plainItems) {
        ini.Set(version.section, std::to_string(key), name);
        ini.Set(hashes, std::to_string(key), FormatDigestLine(version.content->at(name)));
        ++key;
    }
    if (version.archiveName.empty()) return;
    // The archive stands last, so it lands after every plain item of every version before it.
    ini.Set(version.section, std::to_string(key), version.archiveName);
    ini.Set(hashes, std::to_string(key), FormatDigestLine(version.archiveDigest));
    const std::string contents = ContentsSectionName(version.section);
    ini.Ensure(contents);
    for (const std::string& name : version.archiveEntries)
        ini.Set(contents, name, FormatDigestLine(version.content->at(name)));
}

}  // namespace qr
