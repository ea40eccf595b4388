// Ids of the launcher's resources and of the controls in its dialog template. Plain macros, so the
// resource compiler reads the same file as the code.
#pragma once

#define IDD_LAUNCHER 102
#define IDI_LAUNCHER 128
#define IDS_ABOUT_ITEM 101
#define IDS_SOCKET_INIT_FAILED 103

#define IDB_BACKGROUND 137
#define IDB_EXIT_NORMAL 138
#define IDB_EXIT_HIGHLIGHT 139
#define IDB_EXIT_PRESSED 140
#define IDB_HOME_NORMAL 141
#define IDB_HOME_HIGHLIGHT 142
#define IDB_HOME_PRESSED 143
#define IDB_START_NORMAL 144
#define IDB_START_HIGHLIGHT 145
#define IDB_START_PRESSED 146
#define IDB_FILL_FILE 172
#define IDB_FILL_TOTAL 176
#define IDB_FILL_YELLOW 178

#define IDC_TOTAL_PROGRESS 1000
#define IDC_FILE_PROGRESS 1001
#define IDC_HOME_BUTTON 1012
#define IDC_START_BUTTON 1013
#define IDC_CLOSE_BUTTON 1014
#define IDC_NEWS_PLACE 1015
