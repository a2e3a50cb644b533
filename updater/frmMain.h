// The updater's one window: it checks and downloads before it is ever shown,
// shows itself empty and white for the delay, starts the installer and ends.
#pragma once

#include <windows.h>

#include "common/win/owners.h"

namespace updater {

class frmMain {
 public:
  frmMain() = default;
  ~frmMain();
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // Creates the window hidden and runs Form_Load; shows the window with
  // `show` unless Form_Load closed it. False when the window is gone.
  bool Load(int show);
  HWND hWnd() const { return hwnd_; }
  // Interval Form_Load gave Timer1 (0 while it is not enabled).
  UINT Timer1Interval() const { return timerInterval_; }

  void Form_Load();
  void Timer1_Timer();

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Close();

  HWND hwnd_ = nullptr;
  UINT timerInterval_ = 0;
  win::UniqueHandle instance_;  // held for the run: one updater at a time
};

// Runs velUpdate from start to end.
int Run(int show);

}  // namespace updater
