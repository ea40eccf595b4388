#include "patch/SettingsPlatform.h"

namespace qr {
namespace {

class FixedDirSettings : public SettingsPlatform {
public:
    explicit FixedDirSettings(std::string installPath) : installPath_(std::move(installPath)) {}
    std::optional<std::string> ReadInstallPath() override {
        if (installPath_.empty()) return std::nullopt;
        return installPath_;
    }
    std::string ReadProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                  const std::string& file, size_t bufferSize) override {
        return ReadSystemProfileString(section, key, fallback, file, bufferSize);
    }
    bool WriteProfileString(const std::string& section, const std::string& key, const std::string& value,
                            const std::string& file) override {
        return WriteSystemProfileString(section, key, value, file);
    }

private:
    std::string installPath_;
};

}  // namespace

std::unique_ptr<SettingsPlatform> MakeFixedDirSettings(std::string installPath) {
    // The registry value never carries a trailing backslash; a given directory may.
    while (installPath.size() > 1 && (installPath.back() == '\\' || installPath.back() == '/')) installPath.pop_back();
    return std::make_unique<FixedDirSettings>(std::move(installPath));
}

}  // namespace qr
