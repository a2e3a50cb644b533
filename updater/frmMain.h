// The updater's one window: it checks and downloads before it is ever shown,
// shows itself empty and white for the delay, starts the installer and ends.
#pragma once

#include <windows.h>

#include "common/win/form.h"
#include "common/win/owners.h"

namespace updater {

class frmMain : public win::Form {
 public:
  frmMain();

  // Sent by the installer and the uninstaller before they touch the
  // folder: the updater cancels its transfer, starts nothing and ends, as
  // the client ends on the same message.
  static constexpr UINT kExitRequest = WM_APP + 0x101;  // 0x8101

  bool EndRequested() const { return bEndRequested; }
  // Interval Form_Load gave Timer1 (0 while it is not enabled).
  UINT Timer1Interval() const { return Timer1.Enabled() ? Timer1.Interval() : 0; }

  // Fires once, after the delay: the launch and the end.
  win::FormTimer Timer1;

 protected:
  void DescribeWindow(win::FormWindowSpec& desc) override;
  // The whole check and download; unloads the form when there is nothing
  // to start.
  void Form_Load() override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void Timer1_Timer();
  // The exit request, carried out after the sender has its answer.
  void EndOnRequest();

  win::UniqueHandle instance_;
  bool loading_ = false;       // inside Form_Load, whose waits end on WM_QUIT
  bool bEndRequested = false;  // asked to end: nothing more is fetched or started  // held for the run: one updater at a time
};

// Runs velUpdate from start to end; `show` is the window-style request it
// was started with.
int Run(int show);

}  // namespace updater
