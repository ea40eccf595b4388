#include "release/ReleaseNames.h"

#include <cstdio>

#include "common/Atoi.h"
#include "common/SafeName.h"

namespace qr {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Windows drops trailing dots and blanks and ignores case, so "A.QRTMP. " is the file "a.qrtmp".
std::string AsWindowsSees(std::string_view component) {
    while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.remove_suffix(1);
    return AsciiLower(component);
}

bool IsUnreservedInAddress(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '-': case '.': case '_': case '~': case '/': case '!': case '$': case '&': case '\'':
        case '(': case ')': case '+': case ',': case ';': case '@':
            return true;
        default:
            return false;
    }
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

bool IsLauncherFile(std::string_view name) {
    const std::string seen = AsWindowsSees(name);
    for (const char* own : {kPatchListFileName, kPatchInfoFileName, kVersionFileName, kRunLogFileName})
        if (seen == AsciiLower(own)) return true;
    return false;
}

bool HasLauncherSuffix(std::string_view name) {
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i])) continue;
        const std::string seen = AsWindowsSees(name.substr(start, i - start));
        for (const char* suffix : {kTempSuffix, kPartialRecordSuffix, kUnpackTempSuffix, kDeltaSuffix, kCompressedSuffix})
            if (EndsWith(seen, suffix)) return true;
        start = i + 1;
    }
    return false;
}

std::string LauncherNameRefusal(std::string_view name) {
    const std::string seen = AsWindowsSees(name);
    if (EndsWith(seen, kDeltaSuffix) || EndsWith(seen, kCompressedSuffix))
        return std::string("names ending in \"") + kDeltaSuffix + "\" or \"" + kCompressedSuffix +
               "\" are the release's deltas and compressed files";
    if (HasLauncherSuffix(name))
        return std::string("names ending in \"") + kTempSuffix + "\", \"" + kPartialRecordSuffix + "\" or \"" +
               kUnpackTempSuffix + "\" are the launcher's temporary files";
    if (IsLauncherFile(name)) return "\"" + std::string(name) + "\" is a file the launcher keeps for itself";
    return {};
}

std::string GameFileRefusal(std::string_view name) {
    const NormalName normal = NormaliseRelativeName(name);
    if (!normal.refusal.empty()) return normal.refusal;
    if (normal.isDirectory) return "it names a directory, not a file";
    if (normal.path != name) return "it holds \".\" or empty components";
    return LauncherNameRefusal(name);
}

ItemName TakeItemName(std::string_view written) {
    ItemName item;
    NormalName normal = NormaliseRelativeName(written);
    item.refusal = std::move(normal.refusal);
    item.isDirectory = item.refusal.empty() && normal.isDirectory;
    // A refused item is kept as written, for the report; an accepted one as the name it means,
    // which is also the one asked of the server: "//" is not merged by every server or CDN.
    if (!item.refusal.empty() || item.isDirectory) {
        item.name.assign(written);
        if (item.isDirectory) item.refusal = "it names a directory, not a file";
        return item;
    }
    item.name = std::move(normal.path);
    item.refusal = LauncherNameRefusal(item.name);
    return item;
}

ExtractNaming LauncherExtractNaming() {
    ExtractNaming naming;
    naming.tempSuffix = kUnpackTempSuffix;
    naming.refusal = [](std::string_view name) { return LauncherNameRefusal(name); };
    return naming;
}

// Beyond the launcher's own rules a published name must reach every launcher under the same name
// and fit a description line.
std::string PublishRefusal(const std::string& name) {
    if (name.size() > kLongestPublishedName)
        return "the name is " + std::to_string(name.size()) + " bytes long; at most " +
               std::to_string(kLongestPublishedName) + " fit behind an install directory within Windows' path limit";
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80)
            return "the name is not plain ASCII; launchers read names in code page 949, so it would arrive under "
                   "another name";
        if (c == '=') return "the name holds \"=\", which the patch description cannot carry";
        if (c == '\\') return "the name holds \"\\\", which the launcher reads as a directory separator";
        if (c == '"' || c == '<' || c == '>' || c == '|' || c == '?' || c == '*' || byte == 0x7f)
            return std::string("the name holds \"") + c + "\", which Windows does not allow in file names";
    }
    const NormalName normal = NormaliseRelativeName(name);
    if (!normal.refusal.empty() || normal.isDirectory || normal.path != name)
        return "the launcher refuses the name (absolute, \".\" or \"..\" components, empty components, a device "
               "name, a trailing dot or blank, or control characters)";
    if (name.front() == ';' || name.front() == '[' || name.front() == ' ' || name.front() == '\t')
        return "the name begins with a character the patch description would read as a comment, a section or "
               "padding";
    // The launcher's own files are left out of a release, not refused (see IsLauncherFile).
    if (HasLauncherSuffix(name)) return LauncherNameRefusal(name);
    return {};
}

namespace {

constexpr size_t kServedDigestDigits = 32;

bool LowerHex(std::string_view text) {
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

std::string DeltaServedName(std::string_view sourceSha256Hex, std::string_view targetSha256Hex) {
    return std::string(kDeltaFolder) + "/" + std::string(targetSha256Hex.substr(0, kServedDigestDigits)) + "-" +
           std::string(sourceSha256Hex.substr(0, kServedDigestDigits)) + kDeltaSuffix;
}

std::string CompressedServedName(std::string_view targetSha256Hex) {
    return std::string(kDeltaFolder) + "/" + std::string(targetSha256Hex.substr(0, kServedDigestDigits)) +
           kCompressedSuffix;
}

bool IsDeltaServedName(std::string_view name) {
    const std::string folder = std::string(kDeltaFolder) + "/";
    if (name.substr(0, folder.size()) != folder) return false;
    std::string_view rest = name.substr(folder.size());
    const auto hexAt = [&rest](size_t at) {
        return rest.size() >= at + kServedDigestDigits && LowerHex(rest.substr(at, kServedDigestDigits));
    };
    if (!hexAt(0)) return false;
    if (rest.substr(kServedDigestDigits) == kCompressedSuffix) return true;
    const size_t second = kServedDigestDigits + 1;
    return rest.size() > second && rest[kServedDigestDigits] == '-' && hexAt(second) &&
           rest.substr(second + kServedDigestDigits) == kDeltaSuffix;
}

bool PlainServable(const std::string& name) {
    for (char c : name)
        if (!IsUnreservedInAddress(c)) return false;
    return !IsArchiveItem(name);
}

std::string ServerAddress(const std::string& patchBaseUrl, const std::string& name) {
    std::string address = patchBaseUrl + "/" + name;
    if (EndsWith(address, ".map")) address.replace(address.size() - 4, 4, ".bap");
    return address;
}

std::string ServedPath(const std::string& name) { return ServerAddress("", name).substr(1); }

std::vector<std::string> DirectoriesToCreate(const std::string& name) {
    std::vector<std::string> dirs;
    for (size_t i = 0; i < name.size(); ++i)
        if (name[i] == '/') dirs.push_back(".\\" + name.substr(0, i) + "\\");
    return dirs;
}

std::string LocalTargetPath(const std::string& installDir, const std::string& name) { return installDir + name; }

bool IsArchiveAddress(const std::string& serverAddress) { return EndsWith(serverAddress, ".zip"); }

bool IsArchiveItem(const std::string& name) { return IsArchiveAddress(ServerAddress("", name)); }

std::string ArchiveBaseName(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

int VersionNumber(const std::string& version) { return AtoiValue(version); }

std::string VersionSectionName(int version) {
    char name[16];
    // "%0.3d": at least three digits, zero-padded (the 0 flag is redundant with the precision).
    std::snprintf(name, sizeof name, "%.3d", version);
    return name;
}

}  // namespace qr
