#include "patch/InstallState.h"

#include "patch/SettingsStore.h"

namespace qr {

std::optional<std::string> ConfiguredInstallDir(SettingsPlatform& settings) {
    if (auto path = settings.ReadInstallPath()) return *path + "\\";
    return std::nullopt;
}

std::string ReadInstalledVersion(SettingsPlatform& settings) {
    SettingsStore store(settings);
    store.SetFile(kVersionFileName);
    return store.ReadString("VERSION", "version");
}

}  // namespace qr
