// The names of a release: which names a game file may have, how a listed name becomes an address and a
// path, the files and suffixes the launcher keeps for itself, and the limits of the format. The
// worker, the extraction, the repair and the publisher all decide by these rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ArchiveExtraction.h"

namespace qr {

// Files the launcher itself writes, reads and deletes in the install directory.
inline constexpr const char kPatchListFileName[] = "patch.txt";
inline constexpr const char kPatchInfoFileName[] = "PatchInfo.ini";
inline constexpr const char kVersionFileName[] = "VersionInfo.ini";
// What the last runs did and why they failed, for a support desk; no release may bring a file of this name.
inline constexpr const char kRunLogFileName[] = "QuorvelLauncher.log";
// Beside a target: the bytes written whole before they replace it, and the record of a partial download.
inline constexpr const char kTempSuffix[] = ".qrtmp";
inline constexpr const char kPartialRecordSuffix[] = ".qrpart";
// Beside an archive entry's target while it is unpacked: never a download's temporary, which a
// later item may be filling at the same time.
inline constexpr const char kUnpackTempSuffix[] = ".qrnew";
// The description's signature is served at the description's address followed by this.
inline constexpr const char kSignatureSuffix[] = ".sig";
// The game the launcher starts, and the news page a publisher places beside the description.
inline constexpr const char kGameFileName[] = "QuorvelRPG.bin";
inline constexpr const char kNewsPageName[] = "news.html";
// Under the patch base, beside the items: the deltas and whole compressed files that only new launchers
// fetch. No description item ever names them, so old launchers never ask; and no game file may end in
// these suffixes, so a served name never meets a game file's.
inline constexpr const char kDeltaFolder[] = "qrdelta";
inline constexpr const char kDeltaSuffix[] = ".qrdelta";
inline constexpr const char kCompressedSuffix[] = ".qrzst";

inline constexpr int kLastItemKey = 999;                    // keys 0 to 999 of a version are read
inline constexpr size_t kPatchListExaminedBytes = 200;      // of "patch.txt"
inline constexpr size_t kLongestPublishedName = 200;        // the install directory goes in front
inline constexpr uint64_t kMaxPatchListBytes = 4 << 10;     // "patch.txt" is a few lines
inline constexpr uint64_t kMaxDescriptionBytes = 16 << 20;  // a description read whole to be checked
inline constexpr size_t kMaxSignatureBytes = 256;           // a DER P-256 signature takes at most 72
// Delta lines: the most deltas one name describes (more are ignored), and the lines of one section.
// A line is about 1.1 KB at three deltas (a 200-byte name, the newest digest, the whole compressed file
// and three deltas of about 260 bytes each), so 2,400 names with K = 3 take about 2.7 MB of the 16 MiB.
inline constexpr size_t kMaxDeltasPerName = 8;
inline constexpr size_t kDeltaLinesPerSection = 1000;

// The launcher's own names, compared as Windows does (any case, trailing dots and blanks dropped):
// one of its own files at the top of the install directory, or a component ending in one of its
// suffixes (such a name would meet a temporary file or a download record).
bool IsLauncherFile(std::string_view name);
bool HasLauncherSuffix(std::string_view name);

// Why a name is the launcher's own; empty when it is not.
std::string LauncherNameRefusal(std::string_view name);

// Why `name`, in normal form, may not become a game file under the install directory; empty when it
// may. Structural safety first (common/SafeName.h), then no directory, then the launcher's own names.
std::string GameFileRefusal(std::string_view name);
inline bool IsAcceptedGameFile(std::string_view name) { return GameFileRefusal(name).empty(); }

// A description item as tools write it ("./data/a.dat", "data//a.dat") reduced to the name it means.
struct ItemName {
    std::string name;       // the normal form; as written when refused
    std::string refusal;    // empty when the item may be fetched
    bool isDirectory = false;  // names a directory ("data/", "./"): no file can be written for it
};
ItemName TakeItemName(std::string_view written);

// What the extraction is told: its temporary suffix and the entries it must refuse.
ExtractNaming LauncherExtractNaming();

// Why the publisher refuses a tree file's name; empty when it may be published (plain or archived).
std::string PublishRefusal(const std::string& name);
// True when a published name may also be served as a plain item: no character needs escaping in an
// address, and it is no archive name (the launcher would unpack and delete it).
bool PlainServable(const std::string& name);

// The served names of a delta from one content to another and of a content compressed whole, by the
// contents' SHA-256 (hexadecimal): "qrdelta/<new>-<old>.qrdelta", "qrdelta/<new>.qrzst", 32 digits each.
std::string DeltaServedName(std::string_view sourceSha256Hex, std::string_view targetSha256Hex);
std::string CompressedServedName(std::string_view targetSha256Hex);
// True only for names of those two shapes: what a description may ask a launcher to fetch beside items.
bool IsDeltaServedName(std::string_view name);

// Address and path rules for one listed name.
std::string ServerAddress(const std::string& patchBaseUrl, const std::string& name);  // ".map" -> ".bap"
std::string ServedPath(const std::string& name);  // the address below the patch base
std::vector<std::string> DirectoriesToCreate(const std::string& name);  // ".\a\", ".\a/b\"
std::string LocalTargetPath(const std::string& installDir, const std::string& name);
bool IsArchiveAddress(const std::string& serverAddress);  // ends in ".zip", case-sensitive
bool IsArchiveItem(const std::string& name);
std::string ArchiveBaseName(const std::string& name);

// Versions: decimal reading (atoi rules) and the section name ("%0.3d").
int VersionNumber(const std::string& version);
std::string VersionSectionName(int version);

bool SameNameIgnoringCase(std::string_view a, std::string_view b);
std::string AsciiLower(std::string_view text);

}  // namespace qr
