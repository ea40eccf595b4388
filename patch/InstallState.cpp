#include "patch/InstallState.h"

#include "patch/SettingsStore.h"

namespace qr {

std::string ReadInstallDir(LauncherState& state, SettingsPlatform& settings) {
    if (auto path = settings.ReadInstallPath()) state.installDir.Set(*path + "\\");
    return state.installDir.Get();
}

void LoadInstalledVersion(LauncherState& state, SettingsPlatform& settings) {
    SettingsStore store(settings);
    store.SetFile(kVersionFileName);
    state.installedVersion = store.ReadString("VERSION", "version");
    state.versionOk = state.installedVersion != kAbsent;
}

}  // namespace qr
