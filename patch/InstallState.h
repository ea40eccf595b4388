// The launcher-state operations that read settings: the install directory and the installed version.
#pragma once

#include <string>

#include "app/LauncherState.h"
#include "patch/SettingsPlatform.h"

namespace qr {

// Refreshes state.installDir (install path + "\") when the install path is configured, keeps the
// previous value otherwise, and returns it.
std::string ReadInstallDir(LauncherState& state, SettingsPlatform& settings);

// Loads installedVersion from the version file (kVersionFileName) [VERSION] version; versionOk when it is not "NULL".
void LoadInstalledVersion(LauncherState& state, SettingsPlatform& settings);

}  // namespace qr
