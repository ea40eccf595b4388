#include "tools/publish/StagedFiles.h"

#include <memory>

#include "platform/FileError.h"
#include "tools/publish/LinkCheck.h"

namespace qr::publish {
namespace {

constexpr char kTempSuffix[] = ".publishing";
constexpr char kBackupSuffix[] = ".replaced";

// Only a name this run creates itself is written to: a leftover or planted one (a link to a file
// elsewhere, say) refuses the publish and is left as it is. The file is then created exclusively,
// never through a link, so a name planted after the check is never followed either.
std::unique_ptr<WritableFile> CreateOwn(FileSystem& fs, const std::string& path, std::string& problem) {
    if (IsLink(path) || fs.OpenRead(path)) {
        problem = path + " already exists (left by an interrupted publish, or planted there): check it, remove it, "
                         "and run again";
        return nullptr;
    }
    std::unique_ptr<WritableFile> out = fs.CreateNew(path);
    if (!out) problem = "cannot create " + path + " (" + DescribeFileError(LastFileError()) + ")";
    return out;
}

}  // namespace

bool CopyFileBytes(FileSystem& fs, const std::string& from, WritableFile& out) {
    std::unique_ptr<ReadableFile> in = fs.OpenRead(from);
    if (!in) return false;
    const uint64_t size = in->Size();
    std::string buffer(1 << 16, '\0');
    for (uint64_t offset = 0; offset < size;) {
        const size_t got = in->ReadAt(offset, &buffer[0], buffer.size());
        if (got == 0 || !out.Write(buffer.data(), got)) return false;
        offset += got;
    }
    return true;
}

StagedFiles::~StagedFiles() {
    if (committed_) return;
    for (const File& f : files_)
        if (!f.moved) fs_.Remove(f.temp);
}

bool StagedFiles::Stage(const std::string& target, const Writer& write, std::string& problem) {
    File file;
    file.target = target;
    file.temp = target + kTempSuffix;
    file.backup = target + kBackupSuffix;
    file.existed = fs_.OpenRead(target) != nullptr;
    std::unique_ptr<WritableFile> out = CreateOwn(fs_, file.temp, problem);
    if (!out) return false;
    files_.push_back(file);
    bool ok = write(*out, problem);
    if (!out->Close() && ok) {
        ok = false;
        problem = "cannot write " + file.temp + " (" + DescribeFileError(LastFileError()) + ")";
    }
    return ok;
}

bool StagedFiles::Adopt(const std::string& target, const std::string& written, std::string& problem) {
    File file;
    file.target = target;
    file.temp = target + kTempSuffix;
    file.backup = target + kBackupSuffix;
    file.existed = fs_.OpenRead(target) != nullptr;
    if (IsLink(file.temp) || fs_.OpenRead(file.temp)) {
        problem = file.temp + " already exists (left by an interrupted publish, or planted there): check it, remove "
                              "it, and run again";
        return false;
    }
    if (!fs_.Replace(written, file.temp)) {
        problem = "cannot move " + written + " to " + file.temp + " (" + DescribeFileError(LastFileError()) + ")";
        return false;
    }
    files_.push_back(file);
    return true;
}

// The replaced file is copied, not moved aside, so that the served name never goes missing.
bool StagedFiles::Backup(File& file, std::string& problem) {
    std::unique_ptr<WritableFile> out = CreateOwn(fs_, file.backup, problem);
    if (!out) return false;
    bool ok = CopyFileBytes(fs_, file.target, *out);
    FileError cause = LastFileError();
    if (!out->Close()) {
        if (ok) cause = LastFileError();
        ok = false;
    }
    if (!ok) {
        fs_.Remove(file.backup);
        problem = "cannot keep a copy of " + file.target + " (" + DescribeFileError(cause) + ")";
    }
    return ok;
}

bool StagedFiles::Commit(std::string& problem) {
    for (File& file : files_) {
        if (file.existed && !Backup(file, problem)) {
            RollBack();
            return false;
        }
        if (!fs_.Replace(file.temp, file.target)) {
            const FileError cause = LastFileError();
            if (file.existed) fs_.Remove(file.backup);
            problem = "cannot move " + file.temp + " over " + file.target + " (" + DescribeFileError(cause) + ")";
            RollBack();
            return false;
        }
        file.moved = true;
    }
    committed_ = true;
    for (const File& file : files_)
        if (file.existed) fs_.Remove(file.backup);
    return true;
}

void StagedFiles::RollBack() {
    for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
        if (!it->moved) continue;
        if (it->existed)
            fs_.Replace(it->backup, it->target);
        else
            fs_.Remove(it->target);
        it->moved = false;
    }
}

}  // namespace qr::publish
