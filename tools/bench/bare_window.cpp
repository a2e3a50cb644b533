// The yardstick of the start-up measurement (tools/bench-startup.py): a
// bare Win32 program that creates and shows one empty window of the main
// window's size, then waits until it is closed.
#include <windows.h>

namespace {
LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(h, m, w, l);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = L"bareWindow";
  ::RegisterClassExW(&wc);
  HWND h = ::CreateWindowExW(0, wc.lpszClassName, L"bare window", WS_POPUP, 140, 157, 1000, 710, nullptr, nullptr,
                             inst, nullptr);
  ::ShowWindow(h, SW_SHOW);
  ::UpdateWindow(h);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
