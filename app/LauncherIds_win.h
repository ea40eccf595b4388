// Resource and control ids of the launcher window (from the resource script's own header), and its
// fixed client size.
#pragma once

#include "res/ResourceIds.h"

namespace qr::ids {

inline constexpr int kLauncherDialog = IDD_LAUNCHER;
inline constexpr int kIcon = IDI_LAUNCHER;
inline constexpr int kAboutString = IDS_ABOUT_ITEM;
inline constexpr int kSocketErrorString = IDS_SOCKET_INIT_FAILED;

inline constexpr int kTotalProgress = IDC_TOTAL_PROGRESS;
inline constexpr int kFileProgress = IDC_FILE_PROGRESS;
inline constexpr int kHomeButton = IDC_HOME_BUTTON;
inline constexpr int kStartButton = IDC_START_BUTTON;
inline constexpr int kCloseButton = IDC_CLOSE_BUTTON;
inline constexpr int kNewsPlaceholder = IDC_NEWS_PLACE;

inline constexpr int kBackgroundBitmap = IDB_BACKGROUND;
inline constexpr int kCloseNormal = IDB_EXIT_NORMAL, kCloseHighlight = IDB_EXIT_HIGHLIGHT, kClosePressed = IDB_EXIT_PRESSED;
inline constexpr int kHomeNormal = IDB_HOME_NORMAL, kHomeHighlight = IDB_HOME_HIGHLIGHT, kHomePressed = IDB_HOME_PRESSED;
inline constexpr int kStartNormal = IDB_START_NORMAL, kStartHighlight = IDB_START_HIGHLIGHT,
                     kStartPressed = IDB_START_PRESSED;
inline constexpr int kFileFillBitmap = IDB_FILL_FILE;
inline constexpr int kTotalFillBitmap = IDB_FILL_TOTAL;

inline constexpr int kClientWidth = 740;
inline constexpr int kClientHeight = 330;

}  // namespace qr::ids
