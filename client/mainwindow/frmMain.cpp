#include "client/mainwindow/frmMain.h"

namespace {
constexpr wchar_t kClass[] = L"velBoxMain";
}

frmMain& frmMain::Instance() {
  static frmMain form;
  return form;
}

void frmMain::Show() {
  if (!hwnd_) {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = &frmMain::WndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kClass;
    ::RegisterClassExW(&wc);
    hwnd_ = ::CreateWindowExW(0, kClass, L"Velmora音乐网 - 给你最好的音乐", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                              1000, 710, nullptr, nullptr, wc.hInstance, this);
  }
  ::ShowWindow(hwnd_, SW_SHOW);
}

LRESULT CALLBACK frmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    Instance().hwnd_ = nullptr;
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}
