#include "patch/SettingsPlatform.h"

namespace qr {
namespace {

class FixedDirSettings : public ProfileFileSettings {
public:
    explicit FixedDirSettings(std::string installPath) : installPath_(std::move(installPath)) {}
    std::optional<std::string> ReadInstallPath() override {
        if (installPath_.empty()) return std::nullopt;
        return installPath_;
    }

private:
    std::string installPath_;
};

}  // namespace

std::string ProfileFileSettings::ReadIniValue(const std::string& section, const std::string& key,
                                                   const std::string& fallback, const std::string& file,
                                                   size_t bufferSize) {
    return ReadSystemProfileString(section, key, fallback, file, bufferSize);
}

bool ProfileFileSettings::WriteIniValue(const std::string& section, const std::string& key,
                                             const std::string& value, const std::string& file) {
    return WriteSystemProfileString(section, key, value, file);
}

std::unique_ptr<SettingsPlatform> MakeFixedDirSettings(std::string installPath) {
    // The registry value never carries a trailing backslash; a given directory may.
    while (installPath.size() > 1 && (installPath.back() == '\\' || installPath.back() == '/')) installPath.pop_back();
    return std::make_unique<FixedDirSettings>(std::move(installPath));
}

}  // namespace qr
