// Arbitrary bytes as a downloaded patch archive: read with the ZIP reader and extracted into a
// scratch directory. A finding is a crash, a sanitizer report, a hang, a write that could leave the
// extraction root, any file that appears outside it, or a temporary file left behind.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "archive/ArchiveExtraction.h"
#include "archive/ZipReader.h"
#include "platform/ForwardingFileSystem.h"
#include "archive/ZipEntryRead.h"
#include "release/ReleaseNames.h"

namespace fsys = std::filesystem;

namespace {

constexpr size_t kDiskRoom = 32u << 20;  // per input: beyond this the "disk" is full
constexpr int kMaxFiles = 4096;

[[noreturn]] void Finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// Absolute, drive-qualified or climbing paths are refused before anything happens, so that a
// finding never writes outside the scratch directory.
bool MayEscape(const std::string& path) {
    if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos) return true;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/' && path[i] != '\\') continue;
        if (path.compare(start, i - start, "..") == 0 && i - start == 2) return true;
        start = i + 1;
    }
    return false;
}

// The real file system with a small disk, which also drives the disk-full paths. Extraction calls
// it from several threads, so the disk's counters are taken under a lock.
class GuardedFileSystem : public qr::ForwardingFileSystem {
public:
    GuardedFileSystem() : ForwardingFileSystem(qr::SystemFileSystem()) {}
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        room_ = kDiskRoom;
        files_ = 0;
    }
    // A fresh temporary is created here as any other file, so that its faults apply to it too.
    std::unique_ptr<qr::WritableFile> CreateNew(const std::string& path) override { return Create(path); }
    std::unique_ptr<qr::WritableFile> Create(const std::string& path) override {
        Guard("create", path);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (++files_ > kMaxFiles) return nullptr;
        }
        auto file = inner().Create(path);
        return file ? std::make_unique<File>(std::move(file), *this) : nullptr;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        Guard("replace from", from);
        Guard("replace to", to);
        return inner().Replace(from, to);
    }
    bool Remove(const std::string& path) override {
        Guard("remove", path);
        return inner().Remove(path);
    }
    qr::MakeDirResult MakeDirectory(const std::string& path) override {
        Guard("mkdir", path);
        return inner().MakeDirectory(path);
    }
    std::unique_ptr<qr::WritableFile> OpenAppend(const std::string& path) override {
        Guard("append", path);
        return inner().OpenAppend(path);
    }
    bool ChangeDirectory(const std::string&) override { Finding("extraction changed the current directory"); }

private:
    static void Guard(const char* what, const std::string& path) {
        if (MayEscape(path)) Finding(std::string(what) + " outside the extraction root: " + path);
    }
    class File : public qr::ForwardingWritableFile {
    public:
        File(std::unique_ptr<qr::WritableFile> real, GuardedFileSystem& disk)
            : ForwardingWritableFile(std::move(real)), disk_(disk) {}
        bool Write(const void* data, size_t length) override {
            {
                std::lock_guard<std::mutex> lock(disk_.mutex_);
                if (length > disk_.room_) return false;
                disk_.room_ -= length;
            }
            return inner().Write(data, length);
        }

    private:
        GuardedFileSystem& disk_;
    };

    std::mutex mutex_;
    size_t room_ = kDiskRoom;
    int files_ = 0;
};

// fence/scratch/{input.zip, root/}; root is the current directory during extraction. Whatever
// lands in scratch or fence besides these escaped the root.
struct Scratch {
    fsys::path fence, scratch, root, input;
};

const Scratch& TheScratch() {
    static const Scratch scratch = [] {
        Scratch s;
        const char* base = std::getenv("QR_FUZZ_SCRATCH");
        s.fence = base ? fsys::path(base) : fsys::temp_directory_path() / ("qr-archive-fuzz-" + std::to_string(getpid()));
        s.scratch = s.fence / "scratch";
        s.root = s.scratch / "root";
        s.input = s.scratch / "input.zip";
        fsys::remove_all(s.scratch);
        fsys::create_directories(s.root);
        fsys::current_path(s.root);
        return s;
    }();
    return scratch;
}

void ExpectOnly(const fsys::path& dir, const std::vector<std::string>& allowed) {
    for (const auto& entry : fsys::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        bool ok = false;
        for (const auto& a : allowed) ok = ok || name == a;
        if (!ok) Finding("file outside the extraction root: " + entry.path().string());
    }
}

void CheckAndClearRoot(const fsys::path& root) {
    for (auto it = fsys::recursive_directory_iterator(root); it != fsys::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().filename().string();
        const std::string suffix = qr::kTempSuffix;
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            Finding("temporary file left behind: " + it->path().string());
    }
    for (const auto& entry : fsys::directory_iterator(root)) fsys::remove_all(entry.path());
}

// The reader on its own, in odd request sizes, over whatever entries the bytes describe.
void WalkWithReader(const std::string& path, const uint8_t* data, size_t size) {
    qr::ZipReader reader;
    qr::ZipEntryRead entry;
    if (!reader.OpenArchive(path)) return;
    const uint32_t request = size > 0 ? 1 + data[size - 1] % 97 : 7;
    std::vector<char> buffer(request);
    char name[64];
    int entries = 0;
    for (bool more = reader.GoToFirstEntry(); more && entries < 64; more = reader.GoToNextEntry(), ++entries) {
        qr::ZipEntryInfo info;
        reader.GetEntryInfo(&info, name, static_cast<uint32_t>(1 + entries % sizeof name));
        if (!entry.Open(reader)) continue;
        uint64_t total = 0;
        uint32_t got;
        do {
            got = entry.Read(buffer.data(), request);
            if (got > request) Finding("an entry read delivered more than asked");
            total += got;
        } while (got == request && total < (1u << 20));
        if (total > info.uncompressedSize) Finding("entry delivered more than its recorded size");
        std::string problem;
        if (entry.Intact(&problem) && total != info.uncompressedSize) Finding("short entry reported intact");
        entry.Close();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& s = TheScratch();
    {
        std::ofstream out(s.input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    WalkWithReader(s.input.string(), data, size);

    static GuardedFileSystem fs;
    fs.Reset();
    std::atomic<bool> run{true};
    std::atomic<int> done{0}, total{0};
    const qr::ExtractOutcome outcome = qr::ExtractArchive("../input.zip", qr::LauncherExtractNaming(), &run, &done, &total, fs);
    if (outcome.status == qr::ExtractStatus::Stopped) Finding("stopped although the run flag stayed set");
    if (outcome.status == qr::ExtractStatus::Failed && outcome.reason.empty()) Finding("failure without a reason");
    if (done < 0 || done > total || total > 65535) Finding("counters out of range");

    ExpectOnly(s.fence, {"scratch"});
    ExpectOnly(s.scratch, {"input.zip", "root"});
    CheckAndClearRoot(s.root);
    return 0;
}
