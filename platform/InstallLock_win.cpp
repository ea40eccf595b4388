#include "platform/InstallLock.h"

#include <windows.h>

#include <vector>

#include "platform/Cp949_win.h"
#include "platform/Sha256.h"

namespace qr {
namespace {

constexpr char kNamePrefix[] = "QuorvelRPG.patch.";

// The full, long, upper-case form with backslashes and no trailing separator, so that every way of
// writing the directory gives one name.
std::wstring NormalisedDirectory(const std::string& installDir) {
    std::wstring dir = WidenCp949(installDir.empty() ? std::string(".") : installDir);
    for (wchar_t& c : dir)
        if (c == L'/') c = L'\\';
    std::vector<wchar_t> buffer(32768);
    DWORD length = GetFullPathNameW(dir.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length > 0 && length < buffer.size()) dir.assign(buffer.data(), length);
    length = GetLongPathNameW(dir.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 && length < buffer.size()) dir.assign(buffer.data(), length);
    while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
    if (!dir.empty()) CharUpperBuffW(&dir[0], static_cast<DWORD>(dir.size()));
    return dir;
}

// Held by the thread that took it; given up on that thread (and by the system if the process ends).
class MutexInstallLock : public InstallLock {
public:
    explicit MutexInstallLock(HANDLE mutex) : mutex_(mutex) {}
    ~MutexInstallLock() override {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }

private:
    HANDLE mutex_;
};

}  // namespace

// A mutex name may not hold a backslash and is limited in length: the directory goes in as a digest.
std::string InstallLockName(const std::string& installDir) {
    const std::wstring dir = NormalisedDirectory(installDir);
    const auto digest = Sha256Of(std::string_view(reinterpret_cast<const char*>(dir.data()), dir.size() * sizeof(wchar_t)));
    return kNamePrefix + DigestHex(digest);
}

InstallLockResult TryLockInstall(const std::string& installDir) {
    InstallLockResult result;
    const std::wstring name = L"Local\\" + WidenCp949(InstallLockName(installDir));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex) {
        // A mutex made by an elevated launcher is out of reach of a plain process, but it exists,
        // so a run is going on.
        if (GetLastError() == ERROR_ACCESS_DENIED) result.status = InstallLockStatus::HeldElsewhere;
        return result;
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        result.status = InstallLockStatus::Acquired;
        result.lock = std::make_unique<MutexInstallLock>(mutex);
        return result;
    }
    CloseHandle(mutex);
    result.status = wait == WAIT_TIMEOUT ? InstallLockStatus::HeldElsewhere : InstallLockStatus::Unavailable;
    return result;
}

}  // namespace qr
