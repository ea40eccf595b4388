#include "app/PatchListFetch_win.h"

#include <windows.h>

#include <urlmon.h>
#include <wininet.h>

#include "platform/Cp949_win.h"
#include "platform/FileSystem.h"

namespace qr {

void FetchPatchList(const std::string& address, const std::string& localPath) {
    SystemFileSystem().Remove(localPath);
    const std::wstring url = WidenCp949(address);
    // The URL moniker serves from the internet cache when it can; the list must be the server's
    // current one, so any cached copy is dropped first.
    DeleteUrlCacheEntryW(url.c_str());
    URLDownloadToFileW(nullptr, url.c_str(), WidenCp949(localPath).c_str(), 0, nullptr);
}

}  // namespace qr
