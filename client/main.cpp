// Entry point of velBox.exe.
#include <windows.h>

#include "client/mainwindow/frmMain.h"
#include "client/startup/modMain.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#ifdef VELBOX_TEST_COMMANDS
#include "client/testcommands.h"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The browser control needs OLE on this thread (drag and drop, in-place
  // activation), not just COM.
  win::OleScope ole;
  int code = 0;
  {
    // The browser sees its keyboard messages first (accelerators, Tab).
    win::ScopedPreTranslate accelerators([](MSG& msg) {
      if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
      frmMain& f = frmMain::Instance();
      return f.WebBrowser1.IsCreated() && f.WebBrowser1.TranslateAccelerator(msg);
    });
#ifdef VELBOX_TEST_COMMANDS
    testcommands::Window testCommands;
#endif
    modMain::Main();
    code = win::RunMessageLoop();
  }
  // Whatever is still loaded goes while OLE is still there.
  frmMain::Instance().Unload();
  // An update cut off between moving a running program's file aside and
  // putting the new one in its place leaves nothing to start the client
  // from.
  modMain::Finish();
  return code;
}
