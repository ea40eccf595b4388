// A download past 2 GiB through the whole worker: the body is made while it is read and the file
// system throws the bytes away, so nothing of it is held in memory or on disk. What the window
// would paint (byte counter, file bar) is sampled at every repaint the worker asks for.
#include <gtest/gtest.h>

#include <climits>

#include "app/WindowTexts.h"
#include "patch/ByteProgress.h"
#include "platform/ForwardingFileSystem.h"
#include "tests/support/WorkerRig.h"

namespace qr {
namespace {

constexpr long long kHugeSize = 2254857830LL;  // 2.1 GiB, past what an int holds

// Counts what is written to files whose path holds `name`; everything else reaches the disk.
class DiscardingFileSystem : public ForwardingFileSystem {
public:
    explicit DiscardingFileSystem(std::string name) : ForwardingFileSystem(SystemFileSystem()), name_(std::move(name)) {}
    long long discarded = 0;
    bool replaced = false;

    // A fresh temporary is created here as any other file, so that its faults apply to it too.
    std::unique_ptr<WritableFile> CreateNew(const std::string& path) override { return Create(path); }
    std::unique_ptr<WritableFile> Create(const std::string& path) override {
        if (path.find(name_) == std::string::npos) return inner().Create(path);
        discarded = 0;
        return std::make_unique<Sink>(discarded);
    }
    bool Replace(const std::string& from, const std::string& to) override {
        if (to.find(name_) == std::string::npos) return inner().Replace(from, to);
        replaced = true;
        return true;
    }
    bool Remove(const std::string& path) override {
        return path.find(name_) == std::string::npos ? inner().Remove(path) : true;
    }

private:
    class Sink : public WritableFile {
    public:
        explicit Sink(long long& count) : count_(count) {}
        bool Write(const void*, size_t length) override {
            count_ += static_cast<long long>(length);
            return true;
        }
        bool Close() override { return true; }

    private:
        long long& count_;
    };

    std::string name_;
};

// The file bar as the window's control would hold it: int bounds, positions clamped. Watches the
// first download's range (the large file).
class BarWatch : public RecordingProgressSlot {
public:
    void SetRange32(int lower, int upper) override {
        RecordingProgressSlot::SetRange32(lower, upper);
        if (firstUpper == 0 && upper > 1) firstUpper = upper;
    }
    void SetPos(int position) override {
        RecordingProgressSlot::SetPos(position);
        if (position < 0) negative = true;
        if (firstUpper == 0 || upper() != firstUpper) return;
        if (pos() < lastPos) wentBack = true;
        lastPos = pos();
    }
    int firstUpper = 0, lastPos = 0;
    bool wentBack = false, negative = false;
};

// Samples the byte counter's text each time the worker asks the window to repaint it.
class CounterWatch : public PatchUi {
public:
    explicit CounterWatch(std::shared_ptr<LauncherState> state) : state_(std::move(state)) {}
    void Invalidate(const ClientRect* area, bool) override {
        if (!area || area->left != 629) return;  // the byte counter's rectangle
        const long long bytes = state_->bytesReceived;
        const std::string text = FormatByteCounter(bytes);
        if (text[0] == '-') badText = text;
        if (bytes > mostBytes) {
            mostBytes = bytes;
            mostText = text;
        }
        lastText = text;
        ++repaints;
    }
    void StartExtractTimer() override {}
    void StopExtractTimer() override {}
    void ShowMessage(const std::string& text) override { messages += text; }
    long long mostBytes = 0, repaints = 0;
    std::string mostText, lastText, badText, messages;

private:
    std::shared_ptr<LauncherState> state_;
};

TEST(PatchWorkerLargeDownload, CountsAndShowsAFilePast2GiBWhole) {
    test::WorkerRig rig;
    rig.Installed("100");
    auto& state = rig.state;
    auto bar = std::make_shared<BarWatch>();
    state->fileProgress = bar;

    test::FakeHttp& http = rig.http;
    http.resources[rig.kInfoUrl] = {200, "[VERSION]\r\nversion=101\r\n[101]\r\n0=huge.bin\r\n1=small.bin\r\n"};
    test::FakeResource huge;
    huge.generatedSize = kHugeSize;
    http.resources["http://srv/files/huge.bin"] = huge;
    http.resources["http://srv/files/small.bin"] = {200, std::string(12288, 's')};

    DiscardingFileSystem fs("huge.bin");
    auto ui = std::make_shared<CounterWatch>(state);
    rig.fileSystem = &fs;
    rig.Run(ui);

    EXPECT_EQ(fs.discarded, kHugeSize);
    EXPECT_TRUE(fs.replaced);
    EXPECT_TRUE(ui->badText.empty()) << "the counter showed " << ui->badText;
    EXPECT_EQ(ui->mostText, "2254857830 Byte");
    EXPECT_GT(ui->repaints, kHugeSize / 4096);
    // The small file after it is counted exactly as ever.
    EXPECT_EQ(ui->lastText, "12288 Byte");
    EXPECT_EQ(state->bytesTotal, 12288);
    EXPECT_EQ(test::ReadFileBytes(rig.dir.Join("small.bin")), std::string(12288, 's'));
    // The bar had a range of its own for the large file and ran from empty to full over it.
    EXPECT_FALSE(bar->negative);
    EXPECT_FALSE(bar->wentBack);
    EXPECT_EQ(bar->firstUpper, static_cast<int>(kHugeSize / 2));
    EXPECT_EQ(bar->lastPos, bar->firstUpper);
    EXPECT_TRUE(ui->messages.empty()) << ui->messages;
    EXPECT_TRUE(state->readyToStart);
    EXPECT_EQ(rig.RecordedVersion(), "101");
}

TEST(PatchWorkerLargeDownload, FileBarScalesOnlyPast2GiB) {
    ByteProgress small(12288);
    EXPECT_EQ(small.Upper(), 12288);
    EXPECT_EQ(small.Position(4096), 4096);
    ByteProgress edge(INT_MAX);
    EXPECT_EQ(edge.Upper(), INT_MAX);
    EXPECT_EQ(edge.Position(INT_MAX), INT_MAX);
    ByteProgress huge(kHugeSize);
    EXPECT_EQ(huge.Upper(), static_cast<int>(kHugeSize / 2));
    EXPECT_EQ(huge.Position(kHugeSize), huge.Upper());
    EXPECT_EQ(huge.Length(), kHugeSize);
    ByteProgress enormous(LLONG_MAX);
    EXPECT_EQ(enormous.Position(LLONG_MAX), enormous.Upper());
    EXPECT_GT(enormous.Upper(), 0);
    // No announced length: an empty range, and a position that never wraps.
    ByteProgress unknown(-1);
    EXPECT_EQ(unknown.Upper(), 0);
    EXPECT_EQ(unknown.Length(), 0);
    EXPECT_EQ(unknown.Position(kHugeSize), INT_MAX);
}

}  // namespace
}  // namespace qr
