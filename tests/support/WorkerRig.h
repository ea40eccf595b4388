// A patch run for tests: a scratch install directory made current, its patch list and version
// file, the launcher state with logging slots, a recording window, and the server the run talks
// to (in memory unless a test names another). Fixtures derive from it; each member may be swapped
// (settings, file system, session, window) before Run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/LauncherState.h"
#include "app/WindowPatchEvents.h"
#include "patch/PatchWorker.h"
#include "tests/support/FakeHttp.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/TempDir.h"

namespace qr::test {

class WorkerRig {
public:
    static constexpr const char* kInfoUrl = "http://srv/tzan/PatchInfo.ini";
    static constexpr const char* kBase = "http://srv/files";

    WorkerRig();

    void WritePatchList(const std::string& infoUrl, const std::string& base);
    // Writes the version file and reads it into the state.
    void Installed(const std::string& version);
    // A new log, state and window for another run; the version file is read again.
    void Fresh();
    void Description(const std::string& text) { http.resources[kInfoUrl] = {200, text}; }
    FakeResource& Serve(const std::string& name, const std::string& body);
    std::string RecordedVersion();
    std::vector<std::string> LeftoverTempFiles();

    // What the launcher window would start the worker with; `window` defaults to `ui`.
    PatchWorkerContext Context(std::shared_ptr<PatchUi> window = nullptr);
    // Sets the run flag and runs the worker on this thread.
    void Run(std::shared_ptr<PatchUi> window = nullptr);

    TempDir dir;
    CurrentDirGuard cwd{dir.path()};
    FakeHttp http;
    std::shared_ptr<SettingsPlatform> settings;
    std::shared_ptr<EventLog> log;
    std::shared_ptr<LauncherState> state;
    std::shared_ptr<RecordingUi> ui;
    FileSystem* fileSystem = &SystemFileSystem();
    std::function<std::unique_ptr<HttpSession>(const std::string&)> openSession;  // null: `http`
    std::string releaseKeyPem;
    // One at a time unless a test asks for more: the in-memory server answers one request at a time.
    int connections = 1;
    // What the run said of its failures: "name: reason" per file, then "finish: reason".
    std::shared_ptr<EventLog> reasons = std::make_shared<EventLog>();
};

}  // namespace qr::test
