#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <unistd.h>

#include "common/IniText.h"
#include "patch/SettingsPlatform.h"
#include "release/ReleaseNames.h"

namespace qr {
namespace {

std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteAll(int fd, const std::string& text) {
    const char* in = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, in, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        in += put;
        left -= static_cast<size_t>(put);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The INI file is replaced in one step, so a crash or a full disk never leaves it half written;
// the new text and the move are on the disk before this returns, because the installed version
// recorded here promises that the files before it are whole.
bool ReplaceWholeFile(const std::string& path, const std::string& text) {
    const std::string temp = path + kTempSuffix;
    // A leftover temporary, or a link planted under its name, is removed (never followed) first.
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT) return false;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, text);
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

std::string ReadSystemProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                    const std::string& file, size_t bufferSize) {
    std::string value = fallback;
    if (auto text = ReadWholeFile(NativePath(file)))
        if (auto found = IniLookup(*text, section, key)) value = *found;
    if (bufferSize == 0) return {};
    if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
    return value;
}

bool WriteSystemProfileString(const std::string& section, const std::string& key, const std::string& value,
                              const std::string& file) {
    const std::string path = NativePath(file);
    const std::string text = ReadWholeFile(path).value_or(std::string());
    return ReplaceWholeFile(path, IniAssign(text, section, key, value));
}

// Without a registry, QUORVEL_INSTALL_DIR plays the role of the install-directory value.
std::unique_ptr<SettingsPlatform> MakeRegistrySettings() {
    const char* dir = std::getenv("QUORVEL_INSTALL_DIR");
    return MakeFixedDirSettings(dir ? dir : "");
}

}  // namespace qr
