#include "tests/support/WorkerRig.h"

#include <gtest/gtest.h>

#include "patch/SettingsStore.h"

namespace qr::test {
namespace {

// Passes every event on to the window and keeps the reasons the run gives.
class ReasonRecorder : public ForwardingPatchEvents {
public:
    ReasonRecorder(std::shared_ptr<PatchEvents> inner, std::shared_ptr<EventLog> reasons)
        : ForwardingPatchEvents(std::move(inner)), reasons_(std::move(reasons)) {}
    void FileFailed(const std::string& name, const std::string& reason) override {
        reasons_->Add(name + ": " + reason);
        ForwardingPatchEvents::FileFailed(name, reason);
    }
    void Finished(PatchOutcome outcome, const std::string& reason) override {
        if (!reason.empty()) reasons_->Add("finish: " + reason);
        ForwardingPatchEvents::Finished(outcome, reason);
    }

private:
    std::shared_ptr<EventLog> reasons_;
};

}  // namespace

WorkerRig::WorkerRig() : settings(MakeFixedDirSettings(dir.path())) {
    WritePatchList(kInfoUrl, kBase);
    Fresh();
}

void WorkerRig::WritePatchList(const std::string& infoUrl, const std::string& base) {
    WriteFileBytes(dir.Join("patch.txt"),
                   "[PATCH]\r\ninfo=" + infoUrl + "\r\nnews=http://srv/news.html\r\nbase=" + base + "\r\n");
}

void WorkerRig::Installed(const std::string& version) {
    WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=" + version + "\r\n");
    LoadInstalledVersion(*state, *settings);
    ASSERT_TRUE(state->versionOk);
}

void WorkerRig::Fresh() {
    log = std::make_shared<EventLog>();
    state = MakeLoggedState(log);
    ui = std::make_shared<RecordingUi>(state, log);
    state->patchListPath = ReadInstallDir(*state, *settings) + state->patchListName;
    LoadInstalledVersion(*state, *settings);
}

FakeResource& WorkerRig::Serve(const std::string& name, const std::string& body) {
    FakeResource& resource = http.resources[std::string(kBase) + "/" + name];
    resource = {200, body};
    return resource;
}

std::string WorkerRig::RecordedVersion() {
    SettingsStore store(*settings);
    store.SetFile("VersionInfo.ini");
    return store.ReadString("VERSION", "version");
}

std::vector<std::string> WorkerRig::LeftoverTempFiles() {
    std::vector<std::string> temps;
    for (const auto& f : ListFiles(dir.path()))
        if (f.find(".qrtmp") != std::string::npos || f.find(".qrnew") != std::string::npos) temps.push_back(f);
    return temps;
}

PatchWorkerContext WorkerRig::Context(std::shared_ptr<PatchUi> window) {
    PatchWorkerContext context = WindowWorkerContext(state, window ? window : ui, settings);
    context.events = std::make_shared<ReasonRecorder>(context.events, reasons);
    context.fileSystem = fileSystem;
    context.openSession = openSession ? openSession : http.Factory();
    context.releaseKeyPem = releaseKeyPem;
    context.connections = connections;
    return context;
}

void WorkerRig::Run(std::shared_ptr<PatchUi> window) {
    state->workerRunning = true;
    EXPECT_EQ(PatchWorker(Context(std::move(window))), 1);
}

}  // namespace qr::test
