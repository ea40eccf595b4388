// A short-lived reader and writer of one INI file in the install directory. "NULL" is the default
// of every read and means absent.
#pragma once

#include <cstddef>
#include <string>

#include "common/IniText.h"
#include "patch/SettingsPlatform.h"
#include "release/ReleaseNames.h"

namespace qr {

// A read takes a value into a buffer of this many bytes: longer values are cut to one byte less.
inline constexpr size_t kProfileValueBufferSize = 1000;

class SettingsStore {
public:
    explicit SettingsStore(SettingsPlatform& platform) : platform_(platform) {}
    virtual ~SettingsStore() = default;

    // Remembers the file name and reads the install directory afresh.
    void SetFile(const std::string& fileName);
    // Values of up to 999 characters; "NULL" when the file, section or key is missing.
    std::string ReadString(const std::string& section, const std::string& key) const;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value) const;
    // install directory + "\" + file name; the bare file name when no install directory is configured
    std::string FullPath() const;

private:
    SettingsPlatform& platform_;
    std::string fileName_;
    std::string installPath_;  // stays empty when the install directory is not configured
};

}  // namespace qr
