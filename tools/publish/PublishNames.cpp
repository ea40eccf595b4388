#include "tools/publish/PublishNames.h"

#include "common/SafeName.h"
#include "patch/PatchList.h"
#include "tools/publish/ReleaseIni.h"

namespace qr::publish {
namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
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

std::string NameRefusal(const std::string& name) {
    if (name.size() > kLongestName)
        return "the name is " + std::to_string(name.size()) + " bytes long; at most " + std::to_string(kLongestName) +
               " fit behind an install directory within Windows' path limit";
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
    if (!IsSafeRelativeName(name) || name.back() == '/')
        return "the launcher refuses the name (absolute, \".\" or \"..\" components, empty components, a device "
               "name, a trailing dot or blank, or control characters)";
    if (name.front() == ';' || name.front() == '[' || name.front() == ' ' || name.front() == '\t')
        return "the name begins with a character the patch description would read as a comment, a section or "
               "padding";
    // The launcher downloads and unpacks through "<name>.qrtmp" beside the target.
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/') continue;
        if (EndsWith(AsciiLower(name.substr(start, i - start)), ".qrtmp"))
            return "names ending in \".qrtmp\" are the launcher's temporary files";
        start = i + 1;
    }
    return {};
}

bool PlainServable(const std::string& name) {
    for (char c : name)
        if (!IsUnreservedInAddress(c)) return false;
    return !IsArchiveAddress(ServerAddress("", name));
}

std::string ServedPath(const std::string& name) { return ServerAddress("", name).substr(1); }

bool IsLauncherOwnedFile(const std::string& name) {
    return SameNameIgnoringCase(name, "VersionInfo.ini") || SameNameIgnoringCase(name, "PatchInfo.ini") ||
           SameNameIgnoringCase(name, "patch.txt");
}

}  // namespace qr::publish
