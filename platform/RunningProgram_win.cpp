#include "platform/RunningProgram.h"

#include <windows.h>

#include <vector>

#include "platform/Cp949_win.h"

namespace qr {
namespace {

struct FileIdentity {
    bool known = false;
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};

FileIdentity IdentityOf(const std::wstring& path) {
    FileIdentity id;
    // Attributes only, sharing everything: also a running program's file opens this way.
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info)) {
        id.known = true;
        id.volume = info.dwVolumeSerialNumber;
        id.indexHigh = info.nFileIndexHigh;
        id.indexLow = info.nFileIndexLow;
    }
    CloseHandle(file);
    return id;
}

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return length > 0 && length < buffer.size() ? std::wstring(buffer.data(), length) : std::wstring();
}

std::wstring BaseName(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string RunningProgramPath() { return NarrowCp949(ModulePath()); }

bool IsRunningProgramFile(const std::string& path) {
    struct Program {
        std::wstring baseName;
        FileIdentity identity;
    };
    // Taken once: the running file keeps its identity whatever it is later called.
    static const Program program = [] {
        const std::wstring module = ModulePath();
        return Program{BaseName(module), IdentityOf(module)};
    }();
    if (!program.identity.known) return false;
    const std::wstring wide = WidenCp949(path);
    // Most files of a patch differ in name already; only a name that may be the program's is opened.
    const std::wstring base = BaseName(wide);
    if (CompareStringOrdinal(base.c_str(), static_cast<int>(base.size()), program.baseName.c_str(),
                             static_cast<int>(program.baseName.size()), TRUE) != CSTR_EQUAL) {
        // A short (8.3) spelling of the name still has to be looked at.
        if (base.find(L'~') == std::wstring::npos) return false;
    }
    const FileIdentity other = IdentityOf(wide);
    return other.known && other.volume == program.identity.volume && other.indexHigh == program.identity.indexHigh &&
           other.indexLow == program.identity.indexLow;
}

}  // namespace qr
