// The client's icon in the notification area, with its start-up balloon.
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace win {
class Form;
}

namespace modTray {

// Filled once by AddTrayIcon and kept for the client's life; every later
// call to the shell uses it.
extern NOTIFYICONDATAW TrayIconData;

// Adds the icon with the owner form's window as the receiver of its
// messages (asking for the window loads the form, hidden) and the main
// window's tray picture. The balloon comes with the add.
void AddTrayIcon(win::Form& owner);

// Takes the icon away (identified by window and id).
void RemoveTrayIcon();

// The taskbar was created anew (the shell restarted or started late): adds
// the icon again from the same record, without showing the balloon again.
// Does nothing when the icon is not meant to be there.
void RestoreTrayIcon();

// Between AddTrayIcon and RemoveTrayIcon.
bool IsTrayIconWanted();

// The message the shell broadcasts when it creates its taskbar.
UINT TaskbarCreatedMessage();

// Tests stand in for the shell; returns the function used before.
using ShellNotifyFunction = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);
ShellNotifyFunction SetShellNotifyForTesting(ShellNotifyFunction fn);

}  // namespace modTray
