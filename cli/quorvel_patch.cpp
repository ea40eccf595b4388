// quorvel-patch: the launcher's patch run without a window, for operators, tests and demos.
//   quorvel-patch --install-dir DIR [--patch-list URL]
//   quorvel-patch --verify|--repair --install-dir DIR [--patch-list URL]
//   quorvel-patch --show-log --install-dir DIR
//   quorvel-patch --help
// Exit status: 0 after a successful run (or an install that matches its description), 1 after any
// failure (or a missing or damaged file), 2 on a usage error.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "cli/ConsoleOutput.h"
#include "cli/ConsolePatchUi.h"
#include "patch/Download.h"
#include "patch/Fetch.h"
#include "patch/InstallCheck.h"
#include "patch/InstallState.h"
#include "patch/PatchList.h"
#include "release/ReleaseNames.h"
#include "patch/PatchWorker.h"
#include "patch/SelfReplacingFileSystem.h"
#include "patch/ReleaseKey.h"
#include "patch/RunLog.h"
#include "patch/SettingsStore.h"
#include "patch/TransferLimits.h"
#include "platform/InstallLock.h"

namespace {

constexpr char kVersionError[] = "버전 정보가 이상합니다. 다시 설치하여 주시기 바랍니다";

// Set by Ctrl-C; the main thread turns it into the worker's stop request.
volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void OnInterrupt(int) { g_interrupted = 1; }

struct Options {
    std::string installDir;
    std::string patchListUrl;
    bool verify = false;
    bool repair = false;
    bool showLog = false;
    bool help = false;
    int connections = 0;  // 0: the default
};

constexpr char kUsage[] =
    "usage: quorvel-patch [--verify|--repair] --install-dir DIR [--patch-list URL] [--connections N]\n"
    "       quorvel-patch --show-log --install-dir DIR\n"
    "       quorvel-patch --help\n";

constexpr char kHelp[] =
    "Brings a QuorvelRPG install to the newest served version, as the launcher does, without a window.\n"
    "\n"
    "  --install-dir DIR   the game's install directory (required)\n"
    "  --patch-list URL    the patch list address, instead of the built-in one\n"
    "  --connections N     files fetched at once, 1 to %d (default %d; the release may ask for fewer)\n"
    "  --verify            check every installed file against the release; change nothing\n"
    "  --repair            check, then fetch exactly what is missing or damaged\n"
    "  --show-log          print the log of the last runs (%s), for a support desk\n"
    "  --help              print this text\n"
    "\n"
    "Exit status: 0 success (or an install that matches its release), 1 any failure (or a missing or\n"
    "damaged file), 2 a usage error.\n";

int Usage(const char* message) {
    std::fprintf(stderr, "quorvel-patch: %s\n%s", message, kUsage);
    return 2;
}

int Help() {
    std::printf("%s", kUsage);
    std::printf(kHelp, qr::kMaxConnections, qr::kDefaultConnections, qr::kRunLogFileName);
    return 0;
}

bool ParseOptions(int argc, char** argv, Options& options, const char*& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        } else if ((arg == "--install-dir" || arg == "--patch-list") && i + 1 < argc) {
            (arg == "--install-dir" ? options.installDir : options.patchListUrl) = argv[++i];
        } else if (arg.rfind("--install-dir=", 0) == 0) {
            options.installDir = arg.substr(std::strlen("--install-dir="));
        } else if (arg.rfind("--patch-list=", 0) == 0) {
            options.patchListUrl = arg.substr(std::strlen("--patch-list="));
        } else if (arg == "--verify" || arg == "--repair") {
            (arg == "--verify" ? options.verify : options.repair) = true;
        } else if (arg == "--connections" && i + 1 < argc) {
            const std::optional<int> connections = qr::ParseConnections(argv[++i]);
            if (!connections) {
                static const std::string wanted =
                    "--connections takes a number from 1 to " + std::to_string(qr::kMaxConnections);
                error = wanted.c_str();
                return false;
            }
            options.connections = *connections;
        } else if (arg == "--show-log") {
            options.showLog = true;
        } else {
            error = "unknown or incomplete option";
            return false;
        }
    }
    if (options.installDir.empty()) {
        error = "--install-dir is required";
        return false;
    }
    if (options.verify + options.repair + options.showLog > 1) {
        error = "--verify, --repair and --show-log exclude each other";
        return false;
    }
    if (options.patchListUrl.empty()) options.patchListUrl = qr::PatchListAddress();
    // A patch run makes the install directory current: a relative name would then point elsewhere.
    options.installDir = qr::AbsolutePath(options.installDir);
    return true;
}

// Like the window's start-up download: a failure leaves no patch list and the run goes on to fail
// on its own; an error page never becomes the patch list.
void FetchPatchList(const std::string& url, const std::string& target) {
    auto session = qr::OpenHttpSession(qr::kHttpAgent);
    if (!session) return;
    auto response = session->Send(url, qr::SmallDocumentRequest(qr::kMaxPatchListBytes));
    if (!response || !qr::IsSuccessStatus(response->StatusCode())) return;
    qr::DownloadToFile(*response, qr::SystemFileSystem(), target, qr::AnnouncedLength(*response), nullptr, nullptr);
}

// --verify / --repair on the main thread; Ctrl-C stops a repair between reads.
int RunInstallCheck(const Options& options, const std::string& installDir, const std::string& patchListPath,
                    qr::SettingsPlatform& settings, qr::ConsoleOutput& out) {
    auto session = qr::OpenHttpSession(qr::kHttpAgent);
    if (!session) {
        out.Line("the internet layer could not be opened");
        return 1;
    }
    static std::atomic<bool> running{true};
    std::thread watcher([] {
        while (running && !g_interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        running = false;
    });
    qr::InstallCheckOptions check;
    check.installDir = installDir;
    check.patchListPath = patchListPath;
    check.repair = options.repair;
    check.runFlag = &running;
    check.releaseKeyPem = qr::BuiltInReleaseKeyPem();
    auto lastProgress = std::chrono::steady_clock::now();
    check.progress = [&out, &lastProgress](const std::string& name, long long received, long long total) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastProgress < std::chrono::milliseconds(100)) return;  // about ten updates a second
        lastProgress = now;
        std::string text = name + "  " + std::to_string(received);
        if (total >= 0) text += " / " + std::to_string(total);
        out.Progress(text + " Byte");
    };
    const int status = qr::RunInstallCheck(*session, qr::SystemFileSystem(), settings, check,
                                           [&out](const std::string& line) { out.Line(line); });
    const bool interrupted = g_interrupted != 0;
    running = false;
    watcher.join();
    if (interrupted) out.Line("stopped");
    return interrupted ? 1 : status;
}

// Prints the run log as it is; it is only read, so a run in progress does not stand in the way.
int ShowRunLog(const std::string& installDir, qr::ConsoleOutput& out) {
    const std::string log = qr::ReadRunLog(qr::SystemFileSystem(), installDir);
    if (log.empty()) {
        out.Line("no run has been logged in " + installDir + " yet");
        return 1;
    }
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.Line(line);
        start = end + 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const char* error = nullptr;
    if (!ParseOptions(argc, argv, options, error)) return Usage(error);
    if (options.help) return Help();
    qr::FileSystem& fs = qr::SystemFileSystem();
    if (!fs.IsDirectory(options.installDir)) return Usage("the install directory does not exist");
    if (options.showLog) {
        qr::ConsoleOutput out;
        const auto dir = qr::ConfiguredInstallDir(*qr::MakeFixedDirSettings(options.installDir));
        return ShowRunLog(dir.value_or(options.installDir), out);
    }
    // One run per install directory, held until the process ends.
    const qr::InstallLockResult run = qr::TryLockInstall(options.installDir);
    if (run.status == qr::InstallLockStatus::HeldElsewhere) {
        std::fprintf(stderr, "quorvel-patch: another patch run (a launcher or quorvel-patch) is working on %s; "
                             "nothing was changed, run again when it has finished\n", options.installDir.c_str());
        return 1;
    }
    qr::RemoveMovedAsideProgram();

    qr::ConsoleOutput out;
    std::shared_ptr<qr::SettingsPlatform> settings = qr::MakeFixedDirSettings(options.installDir);
    const std::string installDir = qr::ConfiguredInstallDir(*settings).value_or(std::string());
    const std::string patchListPath = installDir + qr::kPatchListFileName;
    FetchPatchList(options.patchListUrl, patchListPath);

    auto cleanUp = [&] {
        fs.Remove(patchListPath);
        fs.Remove(installDir + qr::kPatchInfoFileName);
    };

    if (options.verify || options.repair) {
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
        int status = RunInstallCheck(options, installDir, patchListPath, *settings, out);
        cleanUp();
        return status;
    }

    const std::string installedVersion = qr::ReadInstalledVersion(*settings);
    if (installedVersion == qr::kAbsent) {
        out.Line(kVersionError);
        out.Line("the installed version could not be read from " + std::string(qr::kVersionFileName));
        cleanUp();
        return 1;
    }
    out.Line(qr::kInitialStatusText);
    // The worker expects the install directory to be current, as it is for the launcher.
    fs.ChangeDirectory(installDir);

    auto control = std::make_shared<qr::PatchRunControl>();
    auto ui = std::make_shared<qr::ConsolePatchUi>(control, out, qr::kInitialStatusText);
    qr::PatchWorkerContext context;
    context.control = control;
    context.events = std::make_shared<qr::RunLogEvents>(ui, fs, installDir, installedVersion);
    context.settings = settings;
    context.installedVersion = installedVersion;
    context.installDir = installDir;
    context.patchListPath = patchListPath;
    context.fileSystem = &qr::SelfReplacingSystemFileSystem();
    context.releaseKeyPem = qr::BuiltInReleaseKeyPem();
    context.connections = options.connections;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    control->workerRunning = true;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        qr::PatchWorker(context);
        done = true;
    });
    bool interrupted = false;
    while (!done) {
        if (g_interrupted && !interrupted) {
            interrupted = true;
            control->workerRunning = false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    worker.join();
    cleanUp();
    // The window's last status asks for its start button; the console closes in its own words.
    if (interrupted) {
        out.Line("stopped; the next run goes on from here");
        return 1;
    }
    if (!ui->succeeded()) return 1;
    out.Line("patched to version " + qr::ReadInstalledVersion(*settings));
    return 0;
}
