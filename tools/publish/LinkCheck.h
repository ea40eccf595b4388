// Links in a served tree that others can write to: the publisher never writes through one, nor
// publishes a tree that holds one.
#pragma once

#include <string>

namespace qr::publish {

// True when `path` itself is a symbolic link, a junction or another reparse point.
bool IsLink(const std::string& path);

}  // namespace qr::publish
