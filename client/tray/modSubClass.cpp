#include "client/tray/modSubClass.h"

#include "client/settings/frmProgramSet.h"
#include "client/startup/modChkOptState.h"
#include "client/tray/frmMenu.h"
#include "client/tray/modTray.h"

namespace modSubClass {

WNDPROC lpPrevWndProc = nullptr;

void HookMainWindow(HWND hwnd) {
  if (!hwnd) return;
  const LONG_PTR style = ::GetWindowLongPtrW(hwnd, GWL_STYLE);
  ::SetWindowLongPtrW(hwnd, GWL_STYLE, style | WS_SYSMENU | WS_MINIMIZEBOX);
  // Hooking twice would make the hook its own predecessor.
  if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &MainWndProc) return;
  lpPrevWndProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWndProc)));
}

namespace {

void CloseEverything(HWND mainWindow) {
  // Each close runs to completion before the next; the settings dialog is
  // loaded (and its load enforces the options) when asked for its window.
  ::SendMessageW(frmMenu::Instance().hWnd(), WM_CLOSE, 0, 0);
  ::SendMessageW(frmProgramSet::Instance().hWnd(), WM_CLOSE, 0, 0);
  ::SendMessageW(mainWindow, WM_CLOSE, 0, 0);
  modTray::RemoveTrayIcon();
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  const WNDPROC previous = lpPrevWndProc;
  if (uMsg == WM_DESTROY) {
    ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return ::CallWindowProcW(previous, hWnd, uMsg, wParam, lParam);
  }
  if (uMsg == WM_SYSCOMMAND && wParam == SC_CLOSE) {
    if (modChkOptState::bCloseToTray) {
      ::ShowWindow(hWnd, SW_HIDE);
      return 0;
    }
    CloseEverything(hWnd);
    if (!::IsWindow(hWnd)) return 0;
    return ::CallWindowProcW(previous, hWnd, uMsg, wParam, lParam);
  }
  return ::CallWindowProcW(previous, hWnd, uMsg, wParam, lParam);
}

}  // namespace modSubClass
