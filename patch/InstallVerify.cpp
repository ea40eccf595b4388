#include "patch/InstallVerify.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/Sha256.h"

namespace qr {

FileCheck CheckInstalledFile(FileSystem& fs, const std::string& path, const ManifestFile& file,
                             uint64_t* bytesHashed) {
    auto in = fs.OpenRead(path);
    if (!in) return fs.IsDirectory(path) ? FileCheck::Damaged : FileCheck::Missing;
    if (!file.hasDigest) return FileCheck::Unchecked;
    const uint64_t size = in->Size();
    // A wrong size needs no hashing.
    if (size != file.digest.size) return FileCheck::Damaged;
    std::unique_ptr<char[]> block(new (std::nothrow) char[kVerifyBlockSize]);
    if (!block) return FileCheck::Damaged;
    Sha256 hash;
    for (uint64_t at = 0; at < size;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kVerifyBlockSize, size - at));
        const size_t got = in->ReadAt(at, block.get(), want);
        if (got != want) return FileCheck::Damaged;  // unreadable bytes are damaged bytes
        hash.Update(block.get(), got);
        at += got;
    }
    if (bytesHashed) *bytesHashed += size;
    return hash.ok() && DigestHex(hash.Finish()) == file.digest.sha256Hex ? FileCheck::Intact : FileCheck::Damaged;
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
