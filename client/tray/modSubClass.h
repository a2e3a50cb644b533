// The hook on the main window: its close command hides the client to the
// tray or ends it, as the close-to-tray setting says.
#pragma once

#include <windows.h>

namespace modSubClass {

// The window's procedure before the hook (for a form, the forms' own
// trampoline); kept from HookMainWindow until the window is destroyed.
extern WNDPROC lpPrevWndProc;

// Gives the window a system menu and a minimise box (the taskbar button's
// commands) and routes its messages through MainWndProc.
void HookMainWindow(HWND hwnd);

LRESULT CALLBACK MainWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

}  // namespace modSubClass
