// A file layer for power-cut tests: every call is carried out on the real disk, so the run behaves
// as always, while a model keeps what a power cut at that moment would leave. The model is the
// hostile one: names (creations, moves, removals) reach the disk at once, data only once it was made
// durable (a file flushed on its own, or everything at the barrier); other data is lost or torn.
// After every step it checks that a recorded new version promises only whole files.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "patch/SettingsPlatform.h"
#include "platform/ForwardingFileSystem.h"

namespace qr::test {

class PowerCutDisk : public ForwardingFileSystem {
public:
    explicit PowerCutDisk(FileSystem& real = SystemFileSystem()) : ForwardingFileSystem(real) {}

    bool forgetBarrier = false;  // the barrier does nothing: what running without one would leave
    bool failBarrier = false;    // the system reports that the barrier could not be kept

    // The file that records the version, and the text that means the new version is recorded.
    void ExpectVersion(const std::string& versionFile, const std::string& recordedText) {
        versionFile_ = Key(versionFile);
        recordedText_ = recordedText;
    }
    void Promise(const std::string& path, std::string content) { promised_[Key(path)] = std::move(content); }

    // Told by the settings layer once it has written a file through its own flush and move.
    void DurablyWritten(const std::string& path, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (Key(path) == versionFile_) versionText_ = text;
        Step("version file written");
    }

    std::vector<std::string> Violations() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return violations_;
    }
    int steps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return steps_;
    }
    int stepsWithVersionRecorded() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return recordedSteps_;
    }

    // A fresh temporary is created here as any other file, so that its faults apply to it too.
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override { return Create(path); }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        std::unique_ptr<WritableFile> file = inner().Create(path);
        if (!file) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        const std::string key = Key(path);
        auto bound = names_.find(key);
        std::shared_ptr<Node> node;
        if (bound != names_.end()) {
            // Truncated in place: what the disk holds of it is no longer known.
            node = bound->second;
            node->data.clear();
            node->durable.reset();
        } else {
            node = std::make_shared<Node>();
            names_[key] = node;
        }
        Step("create " + path);
        return std::make_unique<File>(*this, std::move(file), node);
    }
    // A resumed file: what it held before the run is on the disk (an earlier run's barrier or the
    // test put it there); the appended bytes are not, until made durable.
    std::unique_ptr<WritableFile> OpenAppend(const std::string& path) override {
        std::string before;
        if (std::unique_ptr<ReadableFile> kept = inner().OpenRead(path)) {
            before.resize(static_cast<size_t>(kept->Size()));
            before.resize(kept->ReadAt(0, &before[0], before.size()));
        }
        std::unique_ptr<WritableFile> file = inner().OpenAppend(path);
        if (!file) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<Node>& node = names_[Key(path)];
        if (!node) {
            node = std::make_shared<Node>();
            node->data = node->durable.emplace(before);
        }
        appends_ += 1;
        Step("append " + path);
        return std::make_unique<File>(*this, std::move(file), node);
    }
    int appends() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return appends_;
    }
    bool Replace(const std::string& from, const std::string& to) override {
        if (!inner().Replace(from, to)) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        auto moved = names_.find(Key(from));
        if (moved != names_.end()) {
            names_[Key(to)] = moved->second;
            names_.erase(moved);
        } else {
            names_[Key(to)] = std::make_shared<Node>();  // a file from before the run: not tracked
        }
        Step("replace " + from + " > " + to);
        return true;
    }
    bool Remove(const std::string& path) override {
        if (!inner().Remove(path)) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        names_.erase(Key(path));
        Step("remove " + path);
        return true;
    }
    bool MakeDurable(const std::string& dir) override {
        if (failBarrier) return false;
        const bool ok = inner().MakeDurable(dir);
        std::lock_guard<std::mutex> lock(mutex_);
        if (ok && !forgetBarrier)
            for (auto& [key, node] : names_) node->durable = node->data;
        Step("barrier");
        return ok;
    }

private:
    struct Node {
        std::string data;                 // what the running system sees
        std::optional<std::string> durable;  // what a power cut leaves; nothing: lost or torn
    };

    class File : public WritableFile {
    public:
        File(PowerCutDisk& disk, std::unique_ptr<WritableFile> real, std::shared_ptr<Node> node)
            : disk_(disk), real_(std::move(real)), node_(std::move(node)) {}
        bool Write(const void* data, size_t length) override {
            if (!real_->Write(data, length)) return false;
            std::lock_guard<std::mutex> lock(disk_.mutex_);
            node_->data.append(static_cast<const char*>(data), length);
            disk_.Step("write");
            return true;
        }
        bool Close() override {
            const bool ok = real_->Close();
            std::lock_guard<std::mutex> lock(disk_.mutex_);
            disk_.Step("close");
            return ok;
        }
        bool CloseDurably() override {
            const bool ok = real_->CloseDurably();
            std::lock_guard<std::mutex> lock(disk_.mutex_);
            if (ok) node_->durable = node_->data;
            disk_.Step("close durably");
            return ok;
        }

    private:
        PowerCutDisk& disk_;
        std::unique_ptr<WritableFile> real_;
        std::shared_ptr<Node> node_;
    };

    static std::string Key(const std::string& path) {
        std::string p = path;
        for (char& c : p)
            if (c == '\\') c = '/';
        return std::filesystem::weakly_canonical(std::filesystem::absolute(std::filesystem::path(p))).generic_string();
    }

    // A power cut right after this step: if the new version is on the disk, so must be every
    // promised file, whole.
    void Step(const std::string& what) {
        steps_ += 1;
        if (versionText_.find(recordedText_) == std::string::npos) return;
        recordedSteps_ += 1;
        for (const auto& [path, content] : promised_) {
            auto bound = names_.find(path);
            if (bound == names_.end())
                violations_.push_back("after \"" + what + "\": " + path + " is missing");
            else if (!bound->second->durable)
                violations_.push_back("after \"" + what + "\": " + path + " is lost or torn");
            else if (*bound->second->durable != content)
                violations_.push_back("after \"" + what + "\": " + path + " holds other bytes (" + std::to_string(bound->second->durable->size()) + " of " + std::to_string(content.size()) + ")");
        }
    }

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Node>> names_;
    std::map<std::string, std::string> promised_;
    std::string versionFile_, recordedText_, versionText_;
    std::vector<std::string> violations_;
    int steps_ = 0;
    int recordedSteps_ = 0;
    int appends_ = 0;
};

// The settings of an install directory, telling the disk model about each file they write: the
// platform's adaptor flushes and moves it before it returns.
class PowerCutSettings : public SettingsPlatform {
public:
    PowerCutSettings(std::unique_ptr<SettingsPlatform> real, PowerCutDisk& disk) : real_(std::move(real)), disk_(disk) {}
    std::optional<std::string> ReadInstallPath() override { return real_->ReadInstallPath(); }
    std::string ReadIniValue(const std::string& section, const std::string& key, const std::string& fallback,
                             const std::string& file, size_t bufferSize) override {
        return real_->ReadIniValue(section, key, fallback, file, bufferSize);
    }
    bool WriteIniValue(const std::string& section, const std::string& key, const std::string& value,
                       const std::string& file) override {
        if (!real_->WriteIniValue(section, key, value, file)) return false;
        std::string text;
        std::string native = file;
        for (char& c : native)
            if (c == '\\') c = '/';
        if (auto readable = SystemFileSystem().OpenRead(native)) {
            text.resize(static_cast<size_t>(readable->Size()));
            text.resize(readable->ReadAt(0, &text[0], text.size()));
        }
        disk_.DurablyWritten(file, text);
        return true;
    }

private:
    std::unique_ptr<SettingsPlatform> real_;
    PowerCutDisk& disk_;
};

}  // namespace qr::test
