// The texts the launcher window formats itself: its counters, the unpacking line, the game-start
// errors, and the fixed texts it draws. All are code page 949.
#pragma once

#include <cstdint>
#include <string>

namespace qr {

inline constexpr const char kWindowTitle[] = "Quorvel RPG Launcher Ver.20120317";
inline constexpr const char kVersionErrorText[] = "버전 정보가 이상합니다. 다시 설치하여 주시기 바랍니다";
inline constexpr const char kGameStartBoxTitle[] = "Quorvel RPG";
inline constexpr const char kCopyrightLine1[] = "Copyright (C) 2012 VORANTHEX. All rights reserved.";
inline constexpr const char kCopyrightLine2[] = "본 게임의 모든 권리는 VORANTHEX에 있습니다.";

std::string FormatDownloadCounter(int index, int count);  // "%d / %d"
std::string FormatByteCounter(long long bytes);           // "%d Byte", for any 64-bit count

// Whole percent of done over total, computed in double precision and cut toward zero; total must
// not be 0.
int UnpackPercent(int done, int total);
// "압축푸는 중 : <name> (<percent>% 완료)"
std::string FormatUnpackingStatus(const std::string& name, int done, int total);

// The code the game start reports when QuorvelRPG.bin is not the program the verified release names
// (ERROR_INVALID_IMAGE_HASH, which not every SDK's headers define).
inline constexpr uint32_t kErrorInvalidImageHash = 577;
// The text shown when the game cannot be started: its own text for a missing executable (error
// 2), otherwise the code as signed decimal in the DirectX text.
std::string GameStartErrorText(uint32_t errorCode);

}  // namespace qr
