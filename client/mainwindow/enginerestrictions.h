// What the browser engine itself is told not to do, for every page of every
// browser of the client: the process-wide switches, the ambient download
// control and the engine's own keys that would bypass the host. What a
// particular page may do is the site's security manager's (browsersite.h).
#pragma once

#include <windows.h>

namespace enginerestrictions {

// Restrictions Internet Explorer applies to itself and leaves off in every
// other program that hosts the engine; switched on for this process only
// (nothing goes to the registry). Call before the first control exists;
// later calls do nothing.
void HardenEngine();

// The ambient download control (DISPID_AMBIENT_DLCONTROL): the page's
// pictures, videos and sounds; no ActiveX control downloaded and no Java.
// Scripts run and frames load; which installed controls run is decided
// per page by the security manager.
LONG DownloadControl();

// Keys of the engine's own commands: Ctrl+N opens a browser window of its
// own (no new-window event), Ctrl+O and Ctrl+L its dialog for typing any
// address. Reads the keyboard state of the thread.
bool IsKeptFromEngine(const MSG& msg);

}  // namespace enginerestrictions
