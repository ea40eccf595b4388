// Names the publisher creates in a served tree that others can write to: it writes only into files
// it created itself, and never through a link someone planted there.
#pragma once

#include <string>

namespace qr::publish {

// Creates `path` as a new empty file; false when anything already has that name (a file, a
// symbolic link or a reparse point, dangling or not), which is then left alone.
bool ClaimNewFile(const std::string& path);

// True when `path` itself is a symbolic link, a junction or another reparse point.
bool IsLink(const std::string& path);

}  // namespace qr::publish
