// What the settings say of the install: its directory and the version installed there.
#pragma once

#include <optional>
#include <string>

#include "patch/SettingsPlatform.h"

namespace qr {

// The install path + "\" when one is configured.
std::optional<std::string> ConfiguredInstallDir(SettingsPlatform& settings);

// The version file (kVersionFileName) [VERSION] version; "NULL" when there is none.
std::string ReadInstalledVersion(SettingsPlatform& settings);

}  // namespace qr
