// Brings the damaged and missing files of an install back: each plain file is fetched again, and
// each archive that brought a damaged entry is fetched and only those entries are unpacked. Every
// fetch goes through the checks and temporary files of a patch run.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "patch/InstallVerify.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"

namespace qr {

using LineSink = std::function<void(const std::string& line)>;
// Told after each chunk of a download: the list name, the bytes the file has, its whole length (-1
// when unknown).
using FetchProgress = std::function<void(const std::string& name, long long received, long long total)>;

struct RepairContext {
    HttpSession* session = nullptr;
    FileSystem* fs = nullptr;
    std::string installDir;  // ends in a separator
    std::string baseUrl;     // the patch files' base address (patch list line 3)
    const std::atomic<bool>* runFlag = nullptr;
    LineSink say;
    FetchProgress progress;  // may be empty
    // A signed release: every entry an archive lands is held to its contents line before it
    // replaces anything.
    bool checkEntries = false;
};

struct RepairResult {
    int fetched = 0;  // list items fetched whole and checked
    int failed = 0;   // list items that could not be fetched, checked or unpacked
};

RepairResult RepairInstall(RepairContext& context, const ReleaseManifest& manifest, const VerifyReport& report);

}  // namespace qr
