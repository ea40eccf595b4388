// Locating the end of central directory record in an archive's tail.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/FileSystem.h"

namespace qr {

// Position of the end record's signature nearest the end of the file, searched over at most the
// last 65535 bytes; none for files of 4 bytes or less, files of 4 GiB or more, or no signature.
std::optional<uint32_t> FindDirectoryEnd(ReadableFile& file);

}  // namespace qr
