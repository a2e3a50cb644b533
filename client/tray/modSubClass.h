// The hook on the main window: its close command hides the client to the
// tray or ends it, as the close-to-tray setting says. And the client's one
// exit path, which every way out takes.
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

// The exit path: closes the tray form, the settings dialog (loaded first
// when it is not, so that its load enforces the options once more) and the
// hooked main window, each to completion, then removes the tray icon; the
// client ends as no form is left. The close command with close-to-tray off,
// the tray menu's exit, the installer's request, a close message from
// outside and the end of the session all come here.
void ExitClient();

// What other programs and Windows send any window of the client to end it:
// a WM_CLOSE that the exit path did not send (Task Manager's "End task",
// taskkill without /F) takes the exit path whatever close-to-tray says;
// WM_QUERYENDSESSION is answered yes; WM_ENDSESSION for a session that ends
// takes the exit path and does the client's last work before it returns, as
// the process may go any time after. True when `msg` was one of them, with
// the answer in `result`.
bool HandleEndRequest(UINT msg, WPARAM wp, LRESULT& result);

}  // namespace modSubClass
