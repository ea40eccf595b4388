// Builds small ZIP archives in memory for tests: stored or deflated entries, with switches to
// damage them the way real downloads and bad uploads do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qr::test {

struct ZipEntrySpec {
    std::string name;
    std::string data;
    bool deflate = false;
    bool wrongCrc = false;  // the recorded CRC does not match the data
};

// A complete archive (local headers, data, central directory, end record) with `prefix` bytes in
// front, as a self-extracting stub would have.
std::string BuildZip(const std::vector<ZipEntrySpec>& entries, const std::string& prefix = "");

}  // namespace qr::test
