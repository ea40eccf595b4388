// The patch list ("patch.txt"): one "key=value" per line; line 1 the description's address, line 2
// the news page, line 3 the base address of the patch files.
#pragma once

#include <string>

namespace qr {

// Lines of the patch list, counted from 0.
inline constexpr int kPatchInfoUrlLine = 1;
inline constexpr int kNewsUrlLine = 2;
inline constexpr int kPatchBaseUrlLine = 3;

// The value of `line` (text after its first "=") within the first 200 bytes of the file; `dest` is
// left unchanged when the file cannot be read or the line has no "=" there.
void ReadPatchListValue(const std::string& patchListPath, int line, std::string& dest);

}  // namespace qr
