#include <windows.h>

#include <vector>

#include "patch/SettingsPlatform.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

constexpr char kRegistryKey[] = "Software\\VORANTHEX\\QuorvelRPG";
constexpr char kRegistryValue[] = "path";
constexpr DWORD kPathBufferSize = 260;

class RegistryKey {
public:
    RegistryKey(HKEY root, const char* path) {
        // All-access rights, as the installer's key has always been opened; the launcher only reads.
        if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key_) != ERROR_SUCCESS &&
            RegOpenKeyExA(root, path, 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class RegistrySettings : public ProfileFileSettings {
public:
    std::optional<std::string> ReadInstallPath() override {
        RegistryKey key(HKEY_CURRENT_USER, kRegistryKey);
        if (!key.get()) return std::nullopt;
        char buffer[kPathBufferSize] = {};
        DWORD size = kPathBufferSize;
        DWORD type = 0;
        if (RegQueryValueExA(key.get(), kRegistryValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        buffer[kPathBufferSize - 1] = '\0';  // a value stored without its terminator stays bounded
        return std::string(buffer);
    }
};

}  // namespace

std::string ReadSystemProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                    const std::string& file, size_t bufferSize) {
    if (bufferSize == 0) return {};
    std::vector<char> buffer(bufferSize, '\0');
    GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                             static_cast<DWORD>(bufferSize), file.c_str());
    return std::string(buffer.data());
}

// The profile call rewrites the file in place, so it works on a copy: the copy is flushed and then
// moved over the file in one written-through step. A power cut leaves the old file or the new one,
// never a torn one, and the installed version recorded here is on the disk when this returns.
// A name without a directory means the Windows directory to the profile calls; it is left to them.
bool WriteSystemProfileString(const std::string& section, const std::string& key, const std::string& value,
                              const std::string& file) {
    if (file.find_first_of("\\/") == std::string::npos)
        return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
    const std::string temp = file + kTempSuffix;
    // A leftover temporary, or a link planted under its name, is removed first (the link itself); the
    // copy is then made only under a free name, so nothing is written through a link.
    DeleteFileA(temp.c_str());
    if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (!CopyFileA(file.c_str(), temp.c_str(), TRUE)) return false;
    } else {
        HANDLE fresh = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (fresh == INVALID_HANDLE_VALUE) return false;
        CloseHandle(fresh);
    }
    // The copy keeps a read-only attribute of the original; the copy itself must be writable.
    SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    bool ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), temp.c_str()) != 0;
    if (ok) {
        HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) != 0;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    ok = ok && MoveFileExA(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

std::unique_ptr<SettingsPlatform> MakeRegistrySettings() { return std::make_unique<RegistrySettings>(); }

}  // namespace qr
