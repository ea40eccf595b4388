#include "tools/publish/ReleaseTreeLinks.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "tools/publish/LinkCheck.h"

namespace qr::publish {

bool RefuseLinks(const std::string& dir, std::string& problem) {
    std::vector<std::string> pending{dir};
    while (!pending.empty()) {
        const std::string current = pending.back();
        pending.pop_back();
        if (IsLink(current)) {
            problem = current + " is a link; a release tree must hold only plain files and directories "
                                "(remove it, and check how it got there)";
            return false;
        }
        std::error_code error;
        if (!std::filesystem::is_directory(current, error)) continue;
        std::filesystem::directory_iterator it(current, error), end;
        for (; !error && it != end; it.increment(error)) pending.push_back(current + "/" + it->path().filename().string());
        if (error) {
            problem = "cannot list " + current + ": " + error.message();
            return false;
        }
    }
    return true;
}

}  // namespace qr::publish
