// Which game file names a release can carry, and how: every name must be one the launcher accepts
// and can write on Windows; a plain item must also survive being put unescaped into an address.
#pragma once

#include <string>

namespace qr::publish {

// Longest name published: the install directory goes in front of it and Windows' ANSI file calls
// stop at 260 characters.
inline constexpr size_t kLongestName = 200;

// Empty when the name may be published at all (plain or inside an archive), else why not.
std::string NameRefusal(const std::string& name);

// True when the name may also be served as a plain item: characters that need no escaping in an
// address, and not an archive name (the launcher would unpack and delete it).
bool PlainServable(const std::string& name);

// Where a plain item lives under the patch base: ".map" names are kept as ".bap".
std::string ServedPath(const std::string& name);

// Files the launcher itself writes or deletes in the install directory; never published.
bool IsLauncherOwnedFile(const std::string& name);

}  // namespace qr::publish
