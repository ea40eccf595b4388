#include "app/LauncherState.h"

#include "patch/InstallState.h"
#include "patch/SettingsStore.h"

namespace qr {

std::string ReadInstallDir(LauncherState& state, SettingsPlatform& settings) {
    if (auto dir = ConfiguredInstallDir(settings)) state.installDir.Set(*dir);
    return state.installDir.Get();
}

void LoadInstalledVersion(LauncherState& state, SettingsPlatform& settings) {
    state.installedVersion = ReadInstalledVersion(settings);
    state.versionOk = state.installedVersion != kAbsent;
}

}  // namespace qr
