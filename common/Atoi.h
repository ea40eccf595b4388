// The C runtime's atoi reading, spelled out so it is defined for every input: leading blanks
// skipped, optional sign, decimal digits up to the first other character, 0 when there are none.
// Values past the 32-bit range wrap like the 32-bit accumulator of the original runtime would.
#pragma once

#include <string_view>

namespace qr {
int AtoiValue(std::string_view text);
}
