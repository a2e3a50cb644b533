// What a main-window test leaves behind: the main window's load brings the
// tray form (and its exit path the settings dialog) with it.
#pragma once

#include "client/mainwindow/frmMain.h"
#include "client/settings/frmProgramSet.h"
#include "client/tray/frmMenu.h"
#include "client/tray/modTray.h"
#include "common/win/msgloop.h"

namespace testsupport {

// Unloads the client's three forms and takes the tray icon away.
inline void UnloadClientForms() {
  frmProgramSet::Instance().Unload();
  frmMain::Instance().Unload();
  frmMenu::Instance().Unload();
  if (modTray::IsTrayIconWanted()) modTray::RemoveTrayIcon();
  win::DoEvents();
}

}  // namespace testsupport
