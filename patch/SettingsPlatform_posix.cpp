#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "patch/IniText.h"
#include "patch/SettingsPlatform.h"

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

// The INI file is replaced in one step, so a crash or a full disk never leaves it half written.
bool ReplaceWholeFile(const std::string& path, const std::string& text) {
    const std::string temp = path + ".qrtmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
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
