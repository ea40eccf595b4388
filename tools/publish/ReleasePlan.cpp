#include "tools/publish/ReleasePlan.h"

#include <algorithm>
#include <set>

#include "release/ReleaseNames.h"

namespace qr::publish {
namespace {

// Launchers read keys 0 to kLastItemKey of a version.
constexpr size_t kItemsPerVersion = kLastItemKey + 1;

// What is served for each item: a plain item's bytes, an archive's landed entries.
struct ServedRelease {
    std::map<std::string, FileDigest> plain;
    std::map<std::string, std::map<std::string, FileDigest>> archives;
};

// Names that end wrong for a player on `installed`, given the description and what is served.
std::vector<std::string> EndingWrong(const DescriptionText& description, const ServedRelease& served,
                                     const std::string& installed, const std::string& remote,
                                     const std::map<std::string, FileDigest>& target) {
    const DownloadListResult list = BuildDownloadList(installed, remote, std::cref(description));
    std::map<std::string, const FileDigest*> landed;
    for (const std::string& name : list.names) {
        if (IsArchiveItem(name)) {
            auto archive = served.archives.find(name);
            if (archive == served.archives.end()) continue;
            for (const auto& [entry, digest] : archive->second) landed[entry] = &digest;
        } else {
            auto plain = served.plain.find(name);
            landed[name] = plain == served.plain.end() ? nullptr : &plain->second;
        }
    }
    std::vector<std::string> wrong;
    for (const auto& [name, digest] : landed) {
        auto want = target.find(name);
        if (!digest || want == target.end() || !SameContent(*digest, want->second)) wrong.push_back(name);
    }
    return wrong;
}

ServedRelease ServedAfter(const ReleaseHistory& history, const ReleasePlan& plan) {
    ServedRelease served;
    served.archives = history.archiveContents;
    served.plain = history.servedPlain;
    for (const std::string& name : plan.rewritten) served.plain[name] = plan.target.at(name);
    for (const std::string& name : plan.plainItems) served.plain[name] = plan.target.at(name);
    if (!plan.archiveName.empty()) {
        auto& contents = served.archives[plan.archiveName];
        for (const std::string& name : plan.archiveEntries) contents[name] = plan.target.at(name);
    }
    return served;
}

void Sort(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
}

}  // namespace

DescriptionText DescribeRelease(const ReleaseHistory& history, const ReleasePlan& plan,
                                const FileDigest& archiveDigest) {
    DescriptionText ini = history.ini;
    const std::set<std::string> rewritten(plan.rewritten.begin(), plan.rewritten.end());
    for (const PublishedVersion& v : history.versions)
        for (size_t i = 0; i < v.items.size(); ++i)
            if (rewritten.count(v.items[i]))
                ini.Set(HashSectionName(v.section), std::to_string(i), FormatDigestLine(plan.target.at(v.items[i])));

    WriteNewVersion(ini, NewVersion{plan.section, plan.plainItems, plan.archiveName, archiveDigest,
                                    plan.archiveEntries, &plan.target});
    return ini;
}

std::optional<ReleasePlan> PlanRelease(const ReleaseHistory& history, const PlanRequest& request,
                                       std::string& problem) {
    ReleasePlan plan;
    plan.version = request.version;
    plan.section = VersionSectionName(request.version);
    if (!history.empty() && request.version <= history.lastVersion()) {
        problem = "version " + std::to_string(request.version) + " is not higher than the last published version " +
                  history.versions.back().section;
        return std::nullopt;
    }

    // Names that Windows would take for one file, and tree files that a download would clobber.
    std::map<std::string, std::string> byLowerName;
    std::set<std::string> archiveItems;
    for (const auto& [name, digest] : history.archives) archiveItems.insert(AsciiLower(name));
    const std::string archiveName = "patch" + plan.section + ".zip";
    for (const PublishedVersion& v : history.versions)
        for (const std::string& item : v.items)
            if (SameNameIgnoringCase(item, archiveName) && !history.archives.count(archiveName)) {
                problem = "the name " + archiveName + " is already listed by [" + v.section + "]";
                return std::nullopt;
            }
    if (history.archives.count(archiveName)) {
        problem = "the archive " + archiveName + " was published before; choose another version number";
        return std::nullopt;
    }
    archiveItems.insert(AsciiLower(archiveName));
    auto checkName = [&](const std::string& name) -> bool {
        auto [it, fresh] = byLowerName.emplace(AsciiLower(name), name);
        if (!fresh && it->second != name) {
            problem = "\"" + name + "\" and \"" + it->second + "\" differ only in letter case; on Windows they are one file";
            return false;
        }
        return true;
    };
    for (const auto& [name, digest] : history.tree)
        if (!checkName(name)) return std::nullopt;
    for (const auto& [name, digest] : request.tree) {
        if (std::string why = PublishRefusal(name); !why.empty()) {
            problem = "cannot publish \"" + name + "\": " + why;
            return std::nullopt;
        }
        if (!checkName(name)) return std::nullopt;
        if (archiveItems.count(AsciiLower(name))) {
            problem = "cannot publish \"" + name + "\": the launcher downloads an archive of that name into the "
                      "install directory and deletes it after unpacking";
            return std::nullopt;
        }
    }

    plan.target = history.tree;
    std::vector<std::string> changed;
    for (const auto& [name, digest] : request.tree) {
        auto old = history.tree.find(name);
        if (old == history.tree.end() || !SameContent(old->second, digest)) changed.push_back(name);
        plan.target[name] = digest;
    }
    for (const auto& [name, digest] : history.tree)
        if (!request.tree.count(name)) plan.removed.push_back(name);

    // Served paths that plain items already occupy (".map" and ".bap" names meet there).
    std::map<std::string, std::string> servedBy;
    for (const auto& [name, digest] : history.servedPlain) servedBy.emplace(AsciiLower(ServedPath(name)), name);

    std::set<std::string> inArchive;
    size_t overLimit = 0;
    for (const std::string& name : changed) {
        if (history.servedPlain.count(name)) plan.rewritten.push_back(name);
        if (request.archiveAll) {
            inArchive.insert(name);
            continue;
        }
        if (!PlainServable(name)) {
            plan.notes.push_back(name + " goes into the archive: its name cannot be served as a plain item");
            inArchive.insert(name);
            continue;
        }
        auto [it, fresh] = servedBy.emplace(AsciiLower(ServedPath(name)), name);
        if (!fresh && it->second != name) {
            plan.notes.push_back(name + " goes into the archive: " + it->second + " is served from the same place");
            inArchive.insert(name);
            continue;
        }
        if (plan.plainItems.size() + 1 >= kItemsPerVersion) {
            inArchive.insert(name);
            ++overLimit;
            continue;
        }
        plan.plainItems.push_back(name);
    }
    if (overLimit > 0)
        plan.notes.push_back(std::to_string(overLimit) + " file(s) go into the archive: a version holds at most " +
                             std::to_string(kItemsPerVersion) + " items");

    // Play every possible start through; whatever ends wrong moves into the archive, which every
    // player's list holds last. Each round moves at least one name, so this ends.
    std::vector<std::string> starts;
    const int first = history.empty() ? request.version : history.versions.front().number;
    starts.push_back(std::to_string(first - 1));
    for (const PublishedVersion& v : history.versions) starts.push_back(std::to_string(v.number));
    for (;;) {
        plan.archiveEntries.assign(inArchive.begin(), inArchive.end());
        plan.archiveName = inArchive.empty() ? std::string() : archiveName;
        Sort(plan.plainItems);
        Sort(plan.rewritten);
        const DescriptionText described = DescribeRelease(history, plan, FileDigest{});
        const ServedRelease served = ServedAfter(history, plan);
        std::set<std::string> wrong;
        std::string firstStart;
        for (const std::string& start : starts) {
            for (const std::string& name : EndingWrong(described, served, start, plan.section, plan.target)) {
                if (wrong.insert(name).second && firstStart.empty()) firstStart = start;
            }
        }
        if (wrong.empty()) break;
        bool moved = false;
        for (const std::string& name : wrong) {
            if (inArchive.count(name)) continue;
            if (!request.tree.count(name)) {
                problem = name + " would end wrong for players on version " + firstStart +
                          ", and it is no longer in the tree to bring it again";
                return std::nullopt;
            }
            plan.notes.push_back(name + " goes into the archive: a plain item would be overwritten by an older "
                                        "archive for players on earlier versions");
            plan.plainItems.erase(std::remove(plan.plainItems.begin(), plan.plainItems.end(), name),
                                  plan.plainItems.end());
            inArchive.insert(name);
            moved = true;
        }
        if (!moved) {
            problem = *wrong.begin() + " would end wrong for players on version " + firstStart +
                      " whatever this version brings";
            return std::nullopt;
        }
    }
    return plan;
}

}  // namespace qr::publish
