// Entry point of velBox.exe.
#include <windows.h>

#include "client/startup/modMain.h"
#include "common/win/owners.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The browser control needs OLE on this thread (drag and drop, in-place
  // activation), not just COM.
  win::OleScope ole;
  modMain::Main();
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
