// Makes the system follow the three options of "cfg.xml": the log-on start
// entry, the close-to-tray setting and the desktop shortcut.
#pragma once

namespace modChkOptState {

// On: the main window's close command hides the client to the tray.
// False at start; set here from "closetotray", cleared by the tray menu's
// exit item, read by the window hook.
extern bool bCloseToTray;

// True when the Run value, machine-wide or the user's own, holds exactly
// the client's log-on command.
bool IsAutoRunSet();

// Creates "cfg.xml" when absent, then applies "autorun", "closetotray" and
// "shortlnk" in this order, each read anew. Only "1" and "0" count; any
// other text leaves that option as it is. Failures are silent. Does nothing
// once the installation was removed under the client (win::RemovedUnder).
void ApplyOptions();

}  // namespace modChkOptState
