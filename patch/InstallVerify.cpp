#include "patch/InstallVerify.h"

#include "release/FileHashing.h"

namespace qr {

FileCheck CheckInstalledFile(FileSystem& fs, const std::string& path, const ManifestFile& file,
                             uint64_t* bytesHashed) {
    auto in = fs.OpenRead(path);
    if (!in) return fs.IsDirectory(path) ? FileCheck::Damaged : FileCheck::Missing;
    if (!file.hasDigest) return FileCheck::Unchecked;
    const uint64_t size = in->Size();
    in.reset();
    // A wrong size needs no hashing; unreadable bytes are damaged bytes.
    if (size != file.digest.size) return FileCheck::Damaged;
    const std::optional<FileDigest> digest = DigestOfFile(fs, path);
    if (bytesHashed && digest) *bytesHashed += size;
    return digest && SameContent(*digest, file.digest) ? FileCheck::Intact : FileCheck::Damaged;
}

bool FileHolds(FileSystem& fs, const std::string& path, const FileDigest& digest) {
    ManifestFile file;
    file.digest = digest;
    file.hasDigest = true;
    return CheckInstalledFile(fs, path, file) == FileCheck::Intact;
}

bool GameMatchesDigest(FileSystem& fs, const std::string& path, const std::string& digestLine) {
    if (digestLine.empty()) return true;
    const std::optional<FileDigest> digest = ParseDigestLine(digestLine);
    return digest && FileHolds(fs, path, *digest);
}

VerifyReport VerifyInstall(FileSystem& fs, const std::string& installDir, const ReleaseManifest& manifest) {
    VerifyReport report;
    for (const ManifestFile& file : manifest.files) {
        const FileCheck check = CheckInstalledFile(fs, installDir + file.name, file, &report.bytesHashed);
        ++report.checked;
        if (check == FileCheck::Unchecked) ++report.unchecked;
        if (check == FileCheck::Missing || check == FileCheck::Damaged) report.problems.push_back({&file, check});
    }
    return report;
}

std::string DescribeProblem(const CheckedFile& problem) {
    return std::string(problem.check == FileCheck::Missing ? "missing  " : "damaged  ") + problem.file->name;
}

}  // namespace qr
