// The launcher's start-up download of the patch list (the URL moniker) against the real server.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "app/PatchListFetch_win.h"
#include "platform/FileSystem.h"
#include "release/ReleaseNames.h"
#include "tests/support/PatchServer.h"
#include "tests/support/TempDir.h"
#include "ui/OleScope.h"

namespace qr {
namespace {

std::string ReadFileOrNothing(const std::string& path) {
    auto file = SystemFileSystem().OpenRead(path);
    if (!file) return "(none)";
    std::string bytes(static_cast<size_t>(file->Size()), '\0');
    if (!bytes.empty() && file->ReadAt(0, &bytes[0], bytes.size()) != bytes.size()) return "(unreadable)";
    return bytes;
}


TEST(patch_list_fetch, EndlessOrOversizedListsLeaveNoFileAndAPlainOneArrives) {
    ui::OleScope ole;  // as the launcher has it before the window fetches the list
    test::PatchServer server;
    test::TempDir install;
    const std::string target = install.Join("patch.txt");
    const std::string list = "PatchInfo=http://127.0.0.1/tzan/PatchInfo.ini\r\nnews=http://127.0.0.1/\r\n";
    server.Put("/tzan/patch.txt", list);
    FetchPatchList(server.url("/tzan/patch.txt"), target);
    EXPECT_EQ(list, ReadFileOrNothing(target));

    server.Put("/tzan/big.txt", std::string(kMaxPatchListBytes + 1, 'a'));
    FetchPatchList(server.url("/tzan/big.txt"), target);
    EXPECT_EQ("(none)", ReadFileOrNothing(target));

    server.Put("/tzan/endless.txt", "x");
    // Far past the list's limit; the bound only keeps a download component that reads on after the
    // abort (Wine's does) from holding the test.
    server.SetFault("/tzan/endless.txt", R"({"mode": "endless", "chunk": 1024, "limit": 8388608})");
    FetchPatchList(server.url("/tzan/endless.txt"), target);
    EXPECT_EQ("(none)", ReadFileOrNothing(target));
}

}  // namespace
}  // namespace qr
#endif
