// The patch description, "PatchInfo.ini": [VERSION] version (and expires), one section per version
// ("%0.3d") with items under keys 0, 1, ..., and for a signed release per version a "NNN.sha256"
// section (key i: the digest of the bytes served for item i) and a "NNN.contents" section (one line
// per archive entry as it lands). Old launchers never read the added sections. One reader for the
// worker (over the INI store), verify, repair and the publisher (over text), and the publisher's writer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/IniText.h"

namespace qr {

struct FileDigest {
    std::string sha256Hex;  // 64 lowercase hexadecimal characters
    uint64_t size = 0;
};
bool SameContent(const FileDigest& a, const FileDigest& b);

// "103" -> "103.sha256" / "103.contents"; the argument is the version's section name as it stands.
std::string HashSectionName(const std::string& versionSection);
std::string ContentsSectionName(const std::string& versionSection);
// "103.removed": for the publisher alone, the names that left the game tree with that version
// (players keep them); launchers never read it.
std::string RemovedSectionName(const std::string& versionSection);

// Strict: exactly 64 lowercase hex digits, one blank, a decimal size without sign or leading zeros
// (a lone "0" is allowed) that fits in 63 bits. Anything else, trailing blanks included, is absent.
std::optional<FileDigest> ParseDigestLine(std::string_view value);
std::string FormatDigestLine(const FileDigest& digest);

// lookup(section, key) reads the description and yields "NULL" for a missing key.
using PatchInfoLookup = std::function<std::string(const std::string& section, const std::string& key)>;

// The description as text: sections and their key lines in file order, looked up by the launcher's
// INI rules (names without case, the first section and the first key of a name win), and written
// back with every line kept.
class DescriptionText {
public:
    static DescriptionText Parse(std::string_view text);
    // "[name]" and "key=value" lines ended by CR LF, a blank line between sections.
    std::string Format() const;

    std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;
    std::string operator()(const std::string& section, const std::string& key) const;  // "NULL" when absent
    const IniSection* Find(std::string_view section) const;
    IniSection& Ensure(const std::string& section);
    // Changes the first key of that name, or appends it.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // Drops every section whose name `which` accepts (a rewritten part of the description).
    void RemoveSections(const std::function<bool(const std::string&)>& which);
    const std::vector<IniSection>& sections() const { return sections_; }

private:
    void Index(size_t section, size_t entry);
    std::vector<IniSection> sections_;
    std::unordered_map<std::string, size_t> sectionIndex_;                  // lower-case name -> first
    std::vector<std::unordered_map<std::string, size_t>> keyIndex_;        // per section: lower key -> first
};

enum class DigestLineState { Absent, Malformed, Present };
struct ItemDigest {
    DigestLineState state = DigestLineState::Absent;
    FileDigest digest;  // meaningful when Present
};

// Where a name of the download list first appears: section "NNN", key "i".
struct ItemOrigin {
    std::string section;
    std::string key;
};

struct DownloadListResult {
    std::vector<std::string> names;        // distinct, in first-appearance order
    std::vector<ItemOrigin> origins;       // parallel to names
    std::vector<ItemDigest> digests;       // parallel to names: the item's line in the hash section
    bool remoteVersionMissing = false;     // the description names no version ("NULL")
    std::string refusedName;               // first name the launcher may not write (as written)
    std::vector<std::string> unwritable;   // items naming a directory, as written: no file is fetched
};

// Every item the versions after `installedVersion` up to `remoteVersion` bring, each taken as the
// name it means ("./a" is "a") and listed once where it first appears, with its digest line.
DownloadListResult BuildDownloadList(const std::string& installedVersion, const std::string& remoteVersion,
                                     const PatchInfoLookup& lookup);

// What an install at the description's version holds: for every name that lands in the install
// directory, its digest and the list items that bring it (the plain file itself, or the archives of
// the version whose contents name it). A later version wins over an earlier one.
struct ManifestFile {
    std::string name;            // as it lands, relative to the install directory
    bool hasDigest = false;      // false: an old-style description; only presence can be checked
    FileDigest digest;
    bool fromArchive = false;
    std::vector<std::string> sources;  // list names that bring it: itself, or its version's archives
    int version = 0;
};

struct ReleaseManifest {
    std::string version;                          // the description's [VERSION] version, "NULL" when absent
    std::vector<ManifestFile> files;              // sorted by name
    std::map<std::string, FileDigest> served;     // list name -> digest of the bytes served for it
    std::vector<std::string> refused;             // names the launcher may not write
    // Archive list name -> every file its contents lines name, also those a later item brings again;
    // only archives whose version lists everything they land, each a name the launcher may write.
    std::map<std::string, std::vector<std::string>> archiveEntries;
};

ReleaseManifest BuildReleaseManifest(std::string_view patchInfoText);
// The same over a description already parsed.
ReleaseManifest BuildReleaseManifest(const DescriptionText& ini);

// What the published versions bring, for the publisher to build on; only descriptions it wrote
// itself qualify (every item described, at most one archive per version).
struct PublishedVersion {
    int number = 0;
    std::string section;                    // "101"
    std::vector<std::string> items;         // in key order, as the launcher reads them
    std::vector<FileDigest> itemDigests;    // parallel to items
    std::map<std::string, FileDigest> contents;  // what its archive lands (empty without one)
    std::string archive;                    // its archive item, if any
};

struct ReleaseHistory {
    DescriptionText ini;
    std::vector<PublishedVersion> versions;      // ascending
    std::map<std::string, FileDigest> tree;      // name -> content on the newest version
    std::map<std::string, FileDigest> servedPlain;  // plain item name -> bytes served for it
    std::map<std::string, FileDigest> archives;  // archive item name -> its bytes
    std::map<std::string, std::map<std::string, FileDigest>> archiveContents;
    std::set<std::string> gone;                  // left the tree in a version, not brought again since
    bool empty() const { return versions.empty(); }
    int lastVersion() const { return versions.empty() ? 0 : versions.back().number; }
};

// `problem` says why a description cannot be built on (hand-written, damaged).
std::optional<ReleaseHistory> ReadReleaseHistory(const std::string& patchInfoText, std::string& problem);

// A new version added to `ini`: its items (plain ones first, the archive last) with their hash
// lines, the archive's contents, and [VERSION] version.
struct NewVersion {
    std::string section;
    std::vector<std::string> plainItems;
    std::string archiveName;                      // empty without one
    FileDigest archiveDigest;
    std::vector<std::string> archiveEntries;
    const std::map<std::string, FileDigest>* content = nullptr;  // every name's bytes
};
void WriteNewVersion(DescriptionText& ini, const NewVersion& version);

}  // namespace qr
