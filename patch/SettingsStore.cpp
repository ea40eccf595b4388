#include "patch/SettingsStore.h"

namespace qr {
void SettingsStore::SetFile(const std::string& fileName) {
    fileName_ = fileName;
    installPath_ = platform_.ReadInstallPath().value_or(std::string());
}

std::string SettingsStore::FullPath() const {
    // Without an install directory the bare name goes to the platform's INI calls, never "\name" at the
    // root of the drive: the Windows profile calls then look in the Windows directory (where the
    // launcher's files normally are not, so the version reads as missing), the POSIX twin in the
    // current directory.
    if (installPath_.empty()) return fileName_;
    return installPath_ + "\\" + fileName_;
}

std::string SettingsStore::ReadString(const std::string& section, const std::string& key) const {
    return platform_.ReadIniValue(section, key, kAbsent, FullPath(), kProfileValueBufferSize);
}

bool SettingsStore::WriteString(const std::string& section, const std::string& key, const std::string& value) const {
    return platform_.WriteIniValue(section, key, value, FullPath());
}

}  // namespace qr
