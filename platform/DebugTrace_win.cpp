#include "platform/DebugTrace.h"

#include <windows.h>

namespace qr {
void DebugTrace(const char* text) { OutputDebugStringA(text); }
}  // namespace qr
