#include <cstdlib>

#include "release/ReleaseDescription.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

bool AllDigits(const std::string& text) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

std::optional<ReleaseHistory> ReadReleaseHistory(const std::string& patchInfoText, std::string& problem) {
    ReleaseHistory history;
    history.ini = DescriptionText::Parse(patchInfoText);
    const std::optional<std::string> versionText = history.ini.Lookup("VERSION", "version");
    if (!versionText || !AllDigits(*versionText)) {
        problem = "PatchInfo.ini names no version in [VERSION] (\"version=NNN\")";
        return std::nullopt;
    }
    const int last = std::atoi(versionText->c_str());

    std::map<int, std::string> sections;
    for (const IniSection& s : history.ini.sections())
        if (AllDigits(s.name) && VersionSectionName(std::atoi(s.name.c_str())) == s.name)
            sections.emplace(std::atoi(s.name.c_str()), s.name);
    for (const auto& [number, section] : sections) {
        if (number > last) {
            problem = "PatchInfo.ini has a section [" + section + "] above its version " + *versionText +
                      "; launchers never read it. Remove it or set the version by hand first";
            return std::nullopt;
        }
        PublishedVersion v;
        v.number = number;
        v.section = section;
        const std::string hashSection = HashSectionName(section);
        for (int k = 0; k <= kLastItemKey; ++k) {
            const std::optional<std::string> name = history.ini.Lookup(section, std::to_string(k));
            if (!name || *name == kAbsent) break;
            const std::string where = "[" + section + "] item " + std::to_string(k) + " (" + *name + ")";
            if (!IsAcceptedGameFile(*name)) {
                problem = where + " is a name the launcher refuses";
                return std::nullopt;
            }
            const std::optional<std::string> line = history.ini.Lookup(hashSection, std::to_string(k));
            const std::optional<FileDigest> digest = line ? ParseDigestLine(*line) : std::nullopt;
            if (!digest) {
                problem = where + " has no valid line in [" + hashSection +
                          "]; only releases made by quorvel-publish can be built on";
                return std::nullopt;
            }
            if (IsArchiveItem(*name)) {
                if (!v.archive.empty() && v.archive != *name) {
                    problem = "[" + section + "] lists two archives; which one lands which file cannot be told";
                    return std::nullopt;
                }
                v.archive = *name;
            }
            v.items.push_back(*name);
            v.itemDigests.push_back(*digest);
        }
        if (!v.archive.empty()) {
            const IniSection* contents = history.ini.Find(ContentsSectionName(section));
            if (!contents) {
                problem = "[" + section + "] lists the archive " + v.archive + " but has no [" +
                          ContentsSectionName(section) + "] section";
                return std::nullopt;
            }
            for (const auto& [entry, value] : contents->entries) {
                const std::optional<FileDigest> digest = ParseDigestLine(value);
                if (!digest || !IsAcceptedGameFile(entry)) {
                    problem = "[" + ContentsSectionName(section) + "] has a damaged line for \"" + entry + "\"";
                    return std::nullopt;
                }
                v.contents.emplace(entry, *digest);
            }
        }
        history.versions.push_back(std::move(v));
    }
    if (history.versions.empty() || history.versions.back().number != last) {
        problem = "PatchInfo.ini has no section for its version " + *versionText;
        return std::nullopt;
    }

    // Every name is served once: all lines that describe it must agree. The newest version that
    // brings a name decides what players on the newest version have.
    for (const PublishedVersion& v : history.versions) {
        if (const IniSection* removed = history.ini.Find(RemovedSectionName(v.section)))
            for (const auto& [key, name] : removed->entries) history.gone.insert(name);
        for (size_t i = 0; i < v.items.size(); ++i) {
            const std::string& name = v.items[i];
            auto& served = IsArchiveItem(name) ? history.archives : history.servedPlain;
            auto [it, fresh] = served.emplace(name, v.itemDigests[i]);
            if (!fresh && !SameContent(it->second, v.itemDigests[i])) {
                problem = "the hash lines of " + name + " disagree between versions; one file cannot match both";
                return std::nullopt;
            }
            if (IsArchiveItem(name)) {
                history.archiveContents[name] = v.contents;
                for (const auto& [entry, digest] : v.contents) {
                    history.tree[entry] = digest;
                    history.gone.erase(entry);
                }
            } else {
                history.tree[name] = v.itemDigests[i];
                history.gone.erase(name);
            }
        }
    }
    return history;
}

}  // namespace qr
