#include "patch/SettingsStore.h"

#include <gtest/gtest.h>

#include "app/LauncherState.h"
#include "tests/support/TempDir.h"

namespace qr {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// Counts how often the install directory is read, like a registry that can be watched.
class CountingSettings : public SettingsPlatform {
public:
    explicit CountingSettings(std::string dir) : inner_(MakeFixedDirSettings(std::move(dir))) {}
    std::optional<std::string> ReadInstallPath() override {
        ++reads;
        return inner_->ReadInstallPath();
    }
    std::string ReadIniValue(const std::string& s, const std::string& k, const std::string& d,
                                  const std::string& f, size_t n) override {
        return inner_->ReadIniValue(s, k, d, f, n);
    }
    bool WriteIniValue(const std::string& s, const std::string& k, const std::string& v,
                            const std::string& f) override {
        return inner_->WriteIniValue(s, k, v, f);
    }
    int reads = 0;

private:
    std::unique_ptr<SettingsPlatform> inner_;
};

TEST(SettingsStore, ReadsValuesWithNullForAnythingMissing) {
    TempDir dir;
    auto settings = MakeFixedDirSettings(dir.path());
    SettingsStore store(*settings);
    store.SetFile("VersionInfo.ini");
    EXPECT_EQ(store.ReadString("VERSION", "version"), "NULL");  // no file

    WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=\r\nlong=" + std::string(1500, 'x') +
                                                    "\r\nexact=" + std::string(999, 'y') + "\r\n");
    EXPECT_EQ(store.ReadString("VERSION", "version"), "");
    EXPECT_EQ(store.ReadString("VERSION", "missing"), "NULL");
    EXPECT_EQ(store.ReadString("OTHER", "version"), "NULL");
    EXPECT_EQ(store.ReadString("VERSION", "long"), std::string(999, 'x'));
    EXPECT_EQ(store.ReadString("VERSION", "exact"), std::string(999, 'y'));
}

TEST(SettingsStore, WritingCreatesFileSectionAndKeyAndKeepsOtherLines) {
    TempDir dir;
    auto settings = MakeFixedDirSettings(dir.path());
    SettingsStore store(*settings);
    store.SetFile("VersionInfo.ini");
    EXPECT_TRUE(store.WriteString("VERSION", "version", "101"));
    EXPECT_EQ(store.ReadString("VERSION", "version"), "101");

    WriteFileBytes(dir.Join("VersionInfo.ini"), "; installed by setup\r\n[VERSION]\r\nversion=101\r\n[Extra]\r\nk=v\r\n");
    EXPECT_TRUE(store.WriteString("VERSION", "version", "103"));
    EXPECT_EQ(ReadFileBytes(dir.Join("VersionInfo.ini")),
              "; installed by setup\r\n[VERSION]\r\nversion=103\r\n[Extra]\r\nk=v\r\n");
    EXPECT_EQ(test::ListFiles(dir.path()), std::vector<std::string>{"VersionInfo.ini"});  // no temp left
}

TEST(SettingsStore, EveryStoreReadsTheInstallDirectoryAfresh) {
    TempDir dir;
    CountingSettings settings(dir.path());
    SettingsStore a(settings), b(settings);
    a.SetFile("VersionInfo.ini");
    b.SetFile("PatchInfo.ini");
    EXPECT_EQ(settings.reads, 2);
    EXPECT_EQ(a.FullPath(), dir.path() + "\\VersionInfo.ini");
    EXPECT_EQ(b.FullPath(), dir.path() + "\\PatchInfo.ini");
}

TEST(InstallState, InstallDirAndInstalledVersion) {
    TempDir dir;
    LauncherState state;
    auto settings = MakeFixedDirSettings(dir.path());
    EXPECT_EQ(ReadInstallDir(state, *settings), dir.path() + "\\");

    // A missing install directory keeps the previous value.
    auto unset = MakeFixedDirSettings("");
    EXPECT_EQ(ReadInstallDir(state, *unset), dir.path() + "\\");
    LauncherState fresh;
    EXPECT_EQ(ReadInstallDir(fresh, *unset), "");

    LoadInstalledVersion(state, *settings);
    EXPECT_FALSE(state.versionOk);
    EXPECT_EQ(state.installedVersion, "NULL");

    WriteFileBytes(dir.Join("VersionInfo.ini"), "[OTHER]\r\nversion=100\r\n");
    LoadInstalledVersion(state, *settings);
    EXPECT_FALSE(state.versionOk);

    WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=\r\n");
    LoadInstalledVersion(state, *settings);
    EXPECT_TRUE(state.versionOk);
    EXPECT_EQ(state.installedVersion, "");

    WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\r\nversion=NULL\r\n");
    LoadInstalledVersion(state, *settings);
    EXPECT_FALSE(state.versionOk);  // a stored "NULL" means absent

    WriteFileBytes(dir.Join("VersionInfo.ini"), "[VERSION]\nversion=100\n");
    LoadInstalledVersion(state, *settings);
    EXPECT_TRUE(state.versionOk);
    EXPECT_EQ(state.installedVersion, "100");
}

TEST(LauncherState, InitialValues) {
    LauncherState state;
    EXPECT_FALSE(state.workerRunning);
    EXPECT_EQ(state.statusText.Get(), "서버에 접속 중입니다..");
    EXPECT_EQ(state.extractName.Get(), "");
    EXPECT_EQ(state.extractDone + state.extractTotal + state.archiveIndex + state.archiveCount +
                  state.bytesReceived + state.bytesTotal,
              0);
    EXPECT_EQ(state.patchListName, "patch.txt");
    EXPECT_FALSE(state.versionOk);
    EXPECT_FALSE(state.readyToStart);
    ASSERT_TRUE(state.fileProgress && state.totalProgress && state.startButton);
}

}  // namespace
}  // namespace qr
