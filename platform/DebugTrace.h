// Trace lines for a debugger: OutputDebugStringA on Windows; on other systems standard error,
// only when QUORVEL_TRACE is set, so normal runs stay quiet.
#pragma once

namespace qr {
void DebugTrace(const char* text);
}
