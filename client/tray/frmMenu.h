// The tray form: a hidden top-level window that receives the tray icon's
// messages and owns its pop-up menu. It is never shown.
#pragma once

#include <windows.h>

#include "common/win/form.h"
#include "common/win/owners.h"

class frmMenu : public win::Form {
 public:
  // Other programs (the installer) find the running client by this class.
  static constexpr wchar_t kClassName[] = L"velBoxMenu";
  // Asks the client to leave as "退出程序" does; answered with 1 at once,
  // the exit itself follows from the client's own queue.
  static constexpr UINT kExitRequest = WM_APP + 0x101;

  // Menu item ids of mnuTray.
  enum : UINT { mnuShowMain = 1, mnuOption = 2, mnuLine1 = 3, mnuExit = 4 };

  static frmMenu& Instance();

  void mnuShowMain_Click();
  void mnuOption_Click();
  void mnuExit_Click();

  // mnuTray while loaded (its items are the pop-up).
  HMENU TrayMenu() const { return mnuTray.get(); }

 protected:
  void DescribeWindow(win::FormWindowSpec& spec) override;
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
