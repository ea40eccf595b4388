// Scratch directories for tests that drive the real code over real files.
#pragma once

#include <string>
#include <vector>

namespace qr::test {

// A fresh directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + "/" + relative (or "\" on Windows)
    std::string Join(const std::string& relative) const;

private:
    std::string path_;
};

// Makes `dir` the process's current directory and restores the previous one when it goes.
class CurrentDirGuard {
public:
    explicit CurrentDirGuard(const std::string& dir);
    ~CurrentDirGuard();
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

private:
    std::string previous_;
};

std::string ReadFileBytes(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Relative paths of every regular file under `dir`, sorted, with "/" separators.
std::vector<std::string> ListFiles(const std::string& dir);

}  // namespace qr::test
