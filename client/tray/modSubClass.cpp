#include "client/tray/modSubClass.h"

#include <utility>

#include "client/settings/frmProgramSet.h"
#include "client/startup/modChkOptState.h"
#include "client/startup/modMain.h"
#include "client/tray/frmMenu.h"
#include "client/tray/modTray.h"

namespace modSubClass {

WNDPROC lpPrevWndProc = nullptr;

namespace {

HWND g_main = nullptr;  // the hooked window, until it is destroyed
// While the exit path runs: the WM_CLOSE messages sent meanwhile are the
// client's own.
bool g_exiting = false;

class Exiting {
 public:
  Exiting() : before_(std::exchange(g_exiting, true)) {}
  ~Exiting() { g_exiting = before_; }
  Exiting(const Exiting&) = delete;
  Exiting& operator=(const Exiting&) = delete;

 private:
  bool before_;
};

}  // namespace

void HookMainWindow(HWND hwnd) {
  if (!hwnd) return;
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
  ::SetWindowLongPtrW(hwnd, GWL_STYLE, style | WS_SYSMENU | WS_MINIMIZEBOX);
  // Hooking twice would make the hook its own predecessor.
  if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &MainWndProc) return;
  g_main = hwnd;
  lpPrevWndProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWndProc)));
}

void ExitClient() {
  if (g_exiting) return;
  Exiting exiting;
  // Each close runs to completion before the next; the settings dialog is
  // loaded (and its load enforces the options) when asked for its window.
  if (HWND menu = frmMenu::Instance().hWndIfLoaded()) ::SendMessageW(menu, WM_CLOSE, 0, 0);
  ::SendMessageW(frmProgramSet::Instance().hWnd(), WM_CLOSE, 0, 0);
  if (g_main) ::SendMessageW(g_main, WM_CLOSE, 0, 0);
  modTray::RemoveTrayIcon();
}

bool HandleEndRequest(UINT msg, WPARAM wp, LRESULT& result) {
  switch (msg) {
    case WM_CLOSE:
      if (g_exiting) return false;  // the client's own: the window closes
      ExitClient();
      result = 0;
      return true;
    case WM_QUERYENDSESSION:
      result = TRUE;
      return true;
    case WM_ENDSESSION:
      if (wp) {
        ExitClient();
        modMain::Finish();
      }
      result = 0;
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK MainWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  const WNDPROC previous = lpPrevWndProc;
  if (uMsg == WM_DESTROY) {
    g_main = nullptr;
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return ::CallWindowProcW(previous, hWnd, uMsg, wParam, lParam);
  }
  if (uMsg == WM_SYSCOMMAND && wParam == SC_CLOSE) {
    if (modChkOptState::bCloseToTray) {
      ::ShowWindow(hWnd, SW_HIDE);
      return 0;
    }
    ExitClient();
    if (!::IsWindow(hWnd)) return 0;
    // A window that stays gets the command passed on; the close it makes of
    // it is the client's own, not one from outside.
    Exiting own;
    return ::CallWindowProcW(previous, hWnd, uMsg, wParam, lParam);
  }
  // Never destroyed while the client runs on: a close from outside ends it.
  if (LRESULT result = 0; HandleEndRequest(uMsg, wParam, result)) return result;
  return ::CallWindowProcW(previous, hWnd, uMsg, wParam, lParam);
}

}  // namespace modSubClass
