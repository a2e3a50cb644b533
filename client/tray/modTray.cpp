#include "client/tray/modTray.h"

#include <cwchar>

#include "client/mainwindow/frmMain.h"
#include "client/tray/traymodel.h"
#include "common/product.h"
#include "common/win/form.h"
#include "common/win/winstr.h"

namespace modTray {

NOTIFYICONDATAW TrayIconData{};

namespace {

constexpr wchar_t kTip[] = L"感谢您的使用-Velmora音乐盒";

ShellNotifyFunction g_notify = &::Shell_NotifyIconW;
bool g_wanted = false;

template <size_t N>
void CopyText(wchar_t (&field)[N], const std::wstring& text) {
  wcsncpy_s(field, N, text.c_str(), _TRUNCATE);
}

}  // namespace

void AddTrayIcon(win::Form& owner) {
  TrayIconData = NOTIFYICONDATAW{};
  TrayIconData.cbSize = sizeof TrayIconData;
  TrayIconData.hIcon = frmMain::Instance().imgTray();
  TrayIconData.hWnd = owner.hWnd();
  TrayIconData.uID = traymodel::kTrayIconId;
  TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_STATE | NIF_INFO;
  TrayIconData.uCallbackMessage = WM_MOUSEMOVE;
  CopyText(TrayIconData.szTip, kTip);
  TrayIconData.dwState = 0;
  TrayIconData.dwStateMask = 0;
  CopyText(TrayIconData.szInfo, win::W(product::WebHome()));
  TrayIconData.uTimeout = 10000;
  CopyText(TrayIconData.szInfoTitle, win::W(product::kSiteName));
  TrayIconData.dwInfoFlags = NIIF_INFO;
  g_wanted = true;
  // No NIM_SETVERSION: the callback keeps its classic form, the mouse
  // message alone in lParam, which the tray form reads.
  g_notify(NIM_ADD, &TrayIconData);
}

void RemoveTrayIcon() {
  g_wanted = false;
  TrayIconData.uFlags = 0;
  g_notify(NIM_DELETE, &TrayIconData);
}

void RestoreTrayIcon() {
  if (!g_wanted) return;
  // The balloon belongs to the start; a new taskbar only gets the icon back.
  NOTIFYICONDATAW again = TrayIconData;
  again.uFlags &= ~static_cast<UINT>(NIF_INFO);
  g_notify(NIM_ADD, &again);
}

bool IsTrayIconWanted() { return g_wanted; }

UINT TaskbarCreatedMessage() {
  static const UINT msg = ::RegisterWindowMessageW(L"TaskbarCreated");
  return msg;
}

ShellNotifyFunction SetShellNotifyForTesting(ShellNotifyFunction fn) {
  ShellNotifyFunction old = g_notify;
  g_notify = fn ? fn : &::Shell_NotifyIconW;
  return old;
}

}  // namespace modTray
