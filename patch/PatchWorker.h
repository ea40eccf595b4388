// The whole patch procedure, run on a thread of its own: patch description, version comparison,
// downloads, archive extraction and the version record, told to a front-end as events.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "patch/PatchEvents.h"
#include "patch/SettingsPlatform.h"
#include "platform/FileSystem.h"
#include "platform/HttpClient.h"

namespace qr {

struct PatchWorkerContext {
    std::shared_ptr<PatchRunControl> control;
    std::shared_ptr<PatchEvents> events;
    std::shared_ptr<SettingsPlatform> settings;
    std::string installedVersion;
    std::string installDir;  // ends in a separator; refreshed from the settings while the run goes on
    std::string patchListPath;
    FileSystem* fileSystem = &SystemFileSystem();
    std::function<std::unique_ptr<HttpSession>(const std::string& agent)> openSession = OpenHttpSession;
    // The release key as PEM; empty when none is built in. With a key the description must be signed
    // and every item described by its digest line.
    std::string releaseKeyPem;
    // Items fetched at once; 0: the default. The description may lower it, never raise it.
    int connections = 0;
};

// Runs the procedure on the calling thread; returns 1 on every path. The front-end sets
// control->workerRunning before it starts the thread.
int PatchWorker(PatchWorkerContext context);

// The status line while `name` downloads.
std::string ReceivingStatusText(const std::string& name);

// Texts of the patch run; the first is shown before the run starts.
inline constexpr const char kInitialStatusText[] = "서버에 접속 중입니다..";
inline constexpr const char kTextNoInternet[] =
    "패치 서버에 접속할 수 없습니다. 내부 패치 중입니다. 홈페이지를 이용하세요";
inline constexpr const char kTextFetchingInfo[] = "패치정보를 받고 있습니다.";
inline constexpr const char kTextReceivingFormat[] = "%s 받는 중";
inline constexpr const char kTextRunAgain[] = "다시 실행 하시기 바랍니다.";
inline constexpr const char kTextInfoFailed[] = "패치 정보를 받는데 실패했습니다. 다시 실행 하시기 바랍니다.";
inline constexpr const char kTextSuccess[] = "패치가 완료되었습니다. GAME START 버튼을 눌러주세요.";
inline constexpr const char kTextFailure[] = "패치가 실패하였습니다. 다시 실행하시기 바랍니다.";

}  // namespace qr
