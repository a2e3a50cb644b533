// The tray form: a hidden top-level window that receives the tray icon's
// messages and owns its pop-up menu. It is never shown.
#pragma once

#include <windows.h>

#include "common/win/form.h"
#include "common/win/owners.h"

class frmMenu : public win::Form {
 public:
  // The installer and the uninstaller find the running client by this class
  // and send it kExitRequest before they touch its files. The client
  // answers 1 at once and then leaves as "退出程序" does: the tray icon goes,
  // cfg.xml stays as it is, the process ends.
  static constexpr wchar_t kClassName[] = L"velBoxMenu";
  static constexpr UINT kExitRequest = WM_APP + 0x101;  // 0x8101

  // Menu item ids of mnuTray.
  enum : UINT { mnuShowMain = 1, mnuOption = 2, mnuLine1 = 3, mnuExit = 4 };

  static frmMenu& Instance();

  void mnuShowMain_Click();
  void mnuOption_Click();
  void mnuExit_Click();

  // mnuTray while loaded (its items are the pop-up).
  HMENU TrayMenu() const { return mnuTray.get(); }

 protected:
  void DescribeWindow(win::FormWindowSpec& desc) override;
  void Form_CreateControls() override;
  void Form_Unload() override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  frmMenu() = default;
  // The icon's callback: a mouse move whose x is the shell's mouse message.
  void Form_MouseMove(LPARAM lp);
  void PopupTrayMenu();

  win::UniqueMenu mnuTray;
};
