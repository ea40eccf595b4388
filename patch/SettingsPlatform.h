// Where the settings live: the one install-directory string (the registry value "path" on Windows)
// and private-profile INI files. The store and the worker use only this interface.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace qr {

class SettingsPlatform {
public:
    virtual ~SettingsPlatform() = default;
    // The install directory without a trailing separator; nothing when it is not configured.
    virtual std::optional<std::string> ReadInstallPath() = 0;
    // Private-profile lookup of one value: the value cut to bufferSize - 1 bytes, or `fallback` when
    // the file, the section or the key is missing.
    virtual std::string ReadIniValue(const std::string& section, const std::string& key,
                                          const std::string& fallback, const std::string& file,
                                          size_t bufferSize) = 0;
    // Sets one key, creating the file and the section as needed.
    virtual bool WriteIniValue(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& file) = 0;
};

// The platform's INI functions (private-profile calls on Windows, our own INI file code elsewhere).
std::string ReadSystemProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& file, size_t bufferSize);
bool WriteSystemProfileString(const std::string& section, const std::string& key, const std::string& value,
                              const std::string& file);

// Settings whose INI files are the platform's own (the two functions above).
class ProfileFileSettings : public SettingsPlatform {
public:
    std::string ReadIniValue(const std::string& section, const std::string& key, const std::string& fallback,
                                  const std::string& file, size_t bufferSize) override;
    bool WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                            const std::string& file) override;
};

// The launcher's own settings: the install directory from the registry key
// HKEY_CURRENT_USER\Software\VORANTHEX\QuorvelRPG, value "path" (Windows only).
std::unique_ptr<SettingsPlatform> MakeRegistrySettings();

// Settings whose install directory is given (headless patcher, tests); INI files as on the platform.
// An empty path means "not configured".
std::unique_ptr<SettingsPlatform> MakeFixedDirSettings(std::string installPath);

}  // namespace qr
