#include "platform/DebugTrace.h"

#include <cstdio>
#include <cstdlib>

namespace qr {
void DebugTrace(const char* text) {
    static const bool enabled = std::getenv("QUORVEL_TRACE") != nullptr;
    if (enabled) std::fputs(text, stderr);
}
}  // namespace qr
