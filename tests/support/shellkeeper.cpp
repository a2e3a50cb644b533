// Keeps Wine's desktop, and with it explorer's notification area, alive
// for a whole test run, as the shell is on a real system. Wine closes a
// desktop (and ends explorer) as soon as its last user thread is gone, so
// without this every client start would bring up a new notification area
// and race it with its first Shell_NotifyIcon.
//   velShellKeeper.exe READY_FILE   writes READY_FILE once the taskbar is
//                                   there, then waits until it is ended
#include <windows.h>

namespace {

constexpr DWORD kTaskbarWaitMs = 120000;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmdLine, int) {
  // A message-only window makes this thread a user of the desktop without
  // showing or activating anything.
  HWND self = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!self) return 1;
  ::GetDesktopWindow();
  const DWORD start = ::GetTickCount();
  while (!::FindWindowW(L"Shell_TrayWnd", nullptr)) {
    if (::GetTickCount() - start >= kTaskbarWaitMs) return 2;
    ::Sleep(50);
  }
  if (cmdLine && *cmdLine) {
    HANDLE ready = ::CreateFileW(cmdLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) ::CloseHandle(ready);
  }
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  return 0;
}
