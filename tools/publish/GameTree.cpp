#include "tools/publish/GameTree.h"

#include <filesystem>
#include <system_error>

#include "release/FileHashing.h"
#include "release/ReleaseNames.h"

namespace qr::publish {

std::optional<GameTree> ScanGameTree(const std::string& root, FileSystem& fs, std::string& problem) {
    namespace stdfs = std::filesystem;
    std::error_code error;
    const stdfs::path base(root);
    if (!stdfs::is_directory(base, error)) {
        problem = "the game tree " + root + " is not a directory";
        return std::nullopt;
    }
    GameTree tree;
    stdfs::recursive_directory_iterator it(base, stdfs::directory_options::none, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (it->is_directory(error)) continue;
        const stdfs::path full = it->path();
        std::string name = full.lexically_relative(base).generic_string();
        // Refused before the name is used as a path: the file system reads a backslash as a separator.
        if (std::string why = PublishRefusal(name); !why.empty()) {
            problem = "cannot publish \"" + name + "\": " + why;
            return std::nullopt;
        }
        if (!it->is_regular_file(error)) {
            problem = "the game tree holds " + name + ", which is not a regular file";
            return std::nullopt;
        }
        if (IsLauncherFile(name)) {
            tree.skipped.push_back(name);
            continue;
        }
        std::optional<FileDigest> digest = DigestOfFile(fs, full.string());
        if (!digest) {
            problem = "cannot read " + full.string();
            return std::nullopt;
        }
        tree.files.emplace(std::move(name), std::move(*digest));
    }
    if (error) {
        problem = "cannot list the game tree " + root + ": " + error.message();
        return std::nullopt;
    }
    return tree;
}

}  // namespace qr::publish
