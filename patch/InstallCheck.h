// The headless patcher's --verify and --repair: fetch the patch description named by the patch
// list, check the install against it, and with repair fetch again what is damaged or missing.
#pragma once

#include <atomic>
#include <string>

#include "patch/InstallRepair.h"
#include "patch/SettingsPlatform.h"

namespace qr {

struct InstallCheckOptions {
    std::string installDir;     // ends in a separator
    std::string patchListPath;  // the downloaded patch list
    bool repair = false;
    const std::atomic<bool>* runFlag = nullptr;
    FetchProgress progress;  // downloads of a repair; may be empty
    // The release key as PEM, empty when none is built in. With a key the description must verify,
    // must not step down or be expired, and must describe every file by its digest.
    std::string releaseKeyPem;
};

// Prints one line per missing or damaged file and a summary through `say`. A repair makes the
// install directory the current directory, as a patch run does (archives unpack relative to it). Returns 0 when the
// install matches its description (after the repair, with repair), 1 otherwise.
int RunInstallCheck(HttpSession& session, FileSystem& fs, SettingsPlatform& settings,
                    const InstallCheckOptions& options, const LineSink& say);

}  // namespace qr
