// Writes a set of files into a served tree so that readers see either none or all of them: each is
// written whole to a temporary beside its target, and only when all are written are they moved into
// place, in the order staged. A failed move puts back the files already moved.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace qr::publish {

class StagedFiles {
public:
    explicit StagedFiles(FileSystem& fs) : fs_(fs) {}
    ~StagedFiles();  // removes whatever was not committed
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // `write` fills the temporary; it returns false with `problem` set when it cannot.
    using Writer = std::function<bool(WritableFile& out, std::string& problem)>;
    bool Stage(const std::string& target, const Writer& write, std::string& problem);
    // A file already written whole elsewhere (on the same volume) is moved to be the target's temporary.
    bool Adopt(const std::string& target, const std::string& written, std::string& problem);
    bool Commit(std::string& problem);

private:
    struct File {
        std::string target;
        std::string temp;
        std::string backup;  // copy of the replaced file, kept until the commit is through
        bool existed = false;
        bool moved = false;
    };
    bool Backup(File& file, std::string& problem);
    void RollBack();

    FileSystem& fs_;
    std::vector<File> files_;
    bool committed_ = false;
};

// Copies a whole file through the file system; false when any byte could not be read or written.
bool CopyFileBytes(FileSystem& fs, const std::string& from, WritableFile& out);

}  // namespace qr::publish
