// The file the running program was started from, and whether a path names that same file.
#pragma once

#include <string>

namespace qr {

// The program's own file as a path (code page 949 on Windows); empty when the system cannot say.
std::string RunningProgramPath();

// True when `path` names the file the program was started from, however it is spelt; compared by
// file identity, so it stays true for the running file after it was renamed and is false for a new
// file put at its old name.
bool IsRunningProgramFile(const std::string& path);

}  // namespace qr
