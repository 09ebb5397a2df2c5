// Resource identifiers of wayfarer.exe, shared by the resource script and the
// code. The numbers are part of the program's contract with its page and
// messages; keep them as they are.
#pragma once

#define IDD_WAYFARER_DIALOG 102
#define IDR_HTML_PAGE 104
#define IDR_MAINFRAME 128

#define IDS_IE_CACHE_CLEARED 135
#define IDS_APP_TITLE 136
#define IDS_CHECKING 137
#define IDS_CHECK_DONE 138
#define IDS_UPDATE_READY 139
#define IDS_REPAIR_DONE 140
#define IDS_SSL_CACHE_CLEARED 141
#define IDS_UPDATE_HEADING 142
#define IDS_UPDATE_NOW 143
#define IDS_UPDATE_LATER 144
#define IDS_DOWNLOAD_FAILED 145
#define IDS_DOWNLOAD_ERROR 146
#define IDS_DOWNLOAD_NEXT 147
#define IDS_DOWNLOAD_STOP 148
#define IDS_INSTALL_FAILED 149
#define IDS_INSTALL_ERROR 150
#define IDS_INSTALL_NEXT 151
#define IDS_INSTALL_STOP 152
#define IDS_CLOCK_SYNCED 153
#define IDS_CLOCK_SYNC_FAILED 154
#define IDS_CONFIG_FETCH_FAILED 155
#define IDS_UPDATE_URGED 156
