// The client's main window (a plain window until its chrome arrives).
#pragma once

#include <windows.h>

class frmMain {
 public:
  static frmMain& Instance();
  // Loads the window when needed and shows it, modeless, without an owner.
  void Show();
  HWND hWnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HWND hwnd_ = nullptr;
};
