// Checks an install against what its patch description says it holds: every described name is
// hashed (in large blocks) and compared with its size and SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "release/ReleaseDescription.h"

namespace qr {

enum class FileCheck { Intact, Missing, Damaged, Unchecked };  // Unchecked: present, no digest described

struct CheckedFile {
    const ManifestFile* file = nullptr;  // points into the manifest given to VerifyInstall
    FileCheck check = FileCheck::Intact;
};

struct VerifyReport {
    std::vector<CheckedFile> problems;  // missing and damaged files, by name
    int checked = 0;
    int unchecked = 0;
    uint64_t bytesHashed = 0;
    bool Clean() const { return problems.empty(); }
};

// `installDir` ends in a separator (as the launcher state keeps it) or is empty for the current one.
FileCheck CheckInstalledFile(FileSystem& fs, const std::string& path, const ManifestFile& file,
                             uint64_t* bytesHashed = nullptr);
// True when the file at `path` is exactly `digest` (its size first, then its SHA-256).
bool FileHolds(FileSystem& fs, const std::string& path, const FileDigest& digest);
// True when `digestLine` is empty (nothing to hold the program to) or the file at `path` is exactly
// what it describes. A program from elsewhere is never started in place of the released one.
bool GameMatchesDigest(FileSystem& fs, const std::string& path, const std::string& digestLine);
VerifyReport VerifyInstall(FileSystem& fs, const std::string& installDir, const ReleaseManifest& manifest);

// "missing  data/x.map", "damaged  bin/game.dll"
std::string DescribeProblem(const CheckedFile& problem);

}  // namespace qr
