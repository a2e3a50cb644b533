#include "client/tray/frmMenu.h"

#include "client/mainwindow/frmMain.h"
#include "client/settings/frmProgramSet.h"
#include "client/startup/modChkOptState.h"
#include "client/tray/modSubClass.h"
#include "client/tray/modTray.h"
#include "client/tray/traymodel.h"
#include "common/product.h"
#include "common/win/winstr.h"

namespace {

// The installer's exit request, carried out after its SendMessage returned.
constexpr UINT kRunExit = WM_APP + 0x102;

}  // namespace

frmMenu& frmMenu::Instance() {
  static frmMenu form;
  return form;
}

void frmMenu::DescribeWindow(win::FormWindowSpec& desc) {
  desc.className = kClassName;
  desc.title = L"";
  // Top-level, so that FindWindow and the shell's broadcasts reach it, but
  // never shown and without a taskbar button.
  desc.style = WS_POPUP;
  desc.exStyle = WS_EX_TOOLWINDOW;
  desc.left = 0;
  desc.top = 0;
  desc.width = 0;
  desc.height = 0;
}

void frmMenu::Form_CreateControls() {
  mnuTray.reset(::CreatePopupMenu());
  ::AppendMenuW(mnuTray.get(), MF_STRING, mnuShowMain, L"显示主窗口");
  ::AppendMenuW(mnuTray.get(), MF_STRING, mnuOption, L"设置中心");
  ::AppendMenuW(mnuTray.get(), MF_SEPARATOR, mnuLine1, nullptr);
  ::AppendMenuW(mnuTray.get(), MF_STRING, mnuExit, L"退出程序");
  // A client started elevated (by its installer) still hears a restarted
  // shell announce its new taskbar.
  ::ChangeWindowMessageFilterEx(hWndIfLoaded(), modTray::TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
}

void frmMenu::Form_Unload() { mnuTray.reset(); }

void frmMenu::Form_MouseMove(LPARAM lp) {
  switch (traymodel::ActionForTrayMessage(traymodel::TrayMessageNumber(lp))) {
    case traymodel::TrayAction::kShowMain:
      mnuShowMain_Click();
      break;
    case traymodel::TrayAction::kPopupMenu:
      PopupTrayMenu();
      break;
    case traymodel::TrayAction::kNothing:
      break;
  }
}

void frmMenu::PopupTrayMenu() {
  HWND self = hWndIfLoaded();
  if (!self || !mnuTray) return;
  // Without the foreground the menu would not close when the user clicks
  // elsewhere; the WM_NULL afterwards lets the shell's second click through.
  ::SetForegroundWindow(self);
  POINT at{};
  ::GetCursorPos(&at);
  ::TrackPopupMenuEx(mnuTray.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, at.x, at.y, self, nullptr);
  if (::IsWindow(self)) ::PostMessageW(self, WM_NULL, 0, 0);
}

void frmMenu::mnuShowMain_Click() {
  frmMain& main = frmMain::Instance();
  if (traymodel::NeedsNoAutoplayNavigation(win::U(main.m_strOpenNet))) {
    const std::wstring address = win::W(product::MusicNoAutoplay());
    main.WebBrowser1.Navigate(address);
    main.m_strOpenNet = address;
  }
  // Asking loads the dialog, hidden, when it is not loaded.
  if (frmProgramSet::Instance().Visible()) return;
  switch (traymodel::StepForMainWindow(main.Visible(), main.WindowState())) {
    case traymodel::MainWindowStep::kShowNormal:
      main.SetVisible(true);
      main.SetWindowState(win::Form::kNormal);
      break;
    case traymodel::MainWindowStep::kMinimize:
      main.SetWindowState(win::Form::kMinimized);
      break;
    case traymodel::MainWindowStep::kRestore:
      main.SetWindowState(win::Form::kNormal);
      break;
    case traymodel::MainWindowStep::kNothing:
      break;
  }
}

void frmMenu::mnuOption_Click() { frmProgramSet::Instance().ShowModal(); }

void frmMenu::mnuExit_Click() {
  // The hook then takes its exit path; "closetotray" in cfg.xml stays.
  modChkOptState::bCloseToTray = false;
  ::SendMessageW(frmMain::Instance().hWnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

LRESULT frmMenu::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (LRESULT result = 0; modSubClass::HandleEndRequest(msg, wp, result)) return result;
  switch (msg) {
    case WM_MOUSEMOVE:
      Form_MouseMove(lp);
      return 0;
    case WM_COMMAND:
      // The window may be gone when a handler returns (the exit path).
      if (HIWORD(wp) == 0) {
        switch (LOWORD(wp)) {
          case mnuShowMain:
            mnuShowMain_Click();
            return 0;
          case mnuOption:
            mnuOption_Click();
            return 0;
          case mnuExit:
            mnuExit_Click();
            return 0;
          default:
            break;
        }
      }
      break;
    case kExitRequest:
      // The installer waits in SendMessage; it gets its answer first.
      ::PostMessageW(hWndIfLoaded(), kRunExit, 0, 0);
      return 1;
    case kRunExit:
      mnuExit_Click();
      return 0;
    default:
      if (msg == modTray::TaskbarCreatedMessage()) {
        modTray::RestoreTrayIcon();
        return 0;
      }
      break;
  }
  return Form::WndProc(msg, wp, lp);
}
