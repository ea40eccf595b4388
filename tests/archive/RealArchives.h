// The archives tests/archive/make_real_archives.sh makes with Info-ZIP zip and bsdtar. Natively the
// script runs here; under Wine, which cannot start it, the test runner makes them beforehand and
// names the folder in QR_TEST_REAL_ARCHIVES.
#pragma once

#include <cstdlib>
#include <string>

#include "tests/support/TempDir.h"

namespace qr::test {

// The folder holding the archives, or empty when they could not be made (or, under Windows, when
// no runner made them).
inline std::string MakeRealArchives(const TempDir& scratch) {
    if (const char* dir = std::getenv("QR_TEST_REAL_ARCHIVES"); dir && *dir) return dir;
#ifdef _WIN32
    (void)scratch;
    return {};
#else
    const std::string out = scratch.Join("real-archives");
    const std::string command = "bash '" QR_SOURCE_DIR "/tests/archive/make_real_archives.sh' '" + out + "'";
    return std::system(command.c_str()) == 0 ? out : std::string();
#endif
}

// "한글.dat" in code page 949, the form every Korean name takes on its way to the file system.
inline constexpr char kKoreanNameCp949[] = "\xC7\xD1\xB1\xDB.dat";

}  // namespace qr::test
