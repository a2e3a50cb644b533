// Resource ids of the pictures and icons (artwork/client.rc, artwork/updater.rc).
// Plain defines: read by the resource compiler, the C++ code and
// tools/gen_artwork.py.
#pragma once

// Icons of velBox.exe. The program icon has the lowest id, so the shell
// shows it for the executable.
#define IDI_VELBOX 1
#define IDI_TRAY 2
#define IDI_HANDPOINTER 3

// The hand cursor's hot spot in the 32 x 32 hand icon: the tip of the
// index finger.
#define HAND_HOTSPOT_X 9
#define HAND_HOTSPOT_Y 1

// Pictures of the main window.
#define IDB_TOP 101
#define IDB_TITLEICON 102
#define IDB_MIN_NORMAL 103
#define IDB_MIN_HOVER 104
#define IDB_CLOSE_NORMAL 105
#define IDB_CLOSE_HOVER 106

// Pictures of the settings dialog.
#define IDB_SET_CLOSE_NORMAL 111
#define IDB_SET_CLOSE_HOVER 112
#define IDB_BTN_NORMAL 113
#define IDB_BTN_HOVER 114
#define IDB_BTN_ACTIVE 115

// Icon of velUpdate.exe.
#define IDI_VELUPDATE 1
