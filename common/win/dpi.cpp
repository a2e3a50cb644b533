#include "common/win/dpi.h"

namespace win {

namespace {

template <typename F>
F User32(const char* name) {
  static HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

int ScreenDpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

int WindowDpi(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn forWindow = User32<Fn>("GetDpiForWindow");
  if (forWindow && hwnd) {
    if (const UINT dpi = forWindow(hwnd)) return static_cast<int>(dpi);
  }
  return ScreenDpi();
}

int SystemDpi() {
  using Fn = UINT(WINAPI*)();
  static const Fn forSystem = User32<Fn>("GetDpiForSystem");
  if (forSystem) {
    if (const UINT dpi = forSystem()) return static_cast<int>(dpi);
  }
  return ScreenDpi();
}

int MetricForDpi(int index, int dpi) {
  using Fn = int(WINAPI*)(int, UINT);
  static const Fn forDpi = User32<Fn>("GetSystemMetricsForDpi");
  if (forDpi) return forDpi(index, static_cast<UINT>(dpi));
  // Older systems: the metric at the screen's dpi, scaled.
  return ::MulDiv(::GetSystemMetrics(index), dpi, ScreenDpi());
}

void AdjustWindowRectForDpi(RECT& r, DWORD style, DWORD exStyle, int dpi) {
  using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const Fn forDpi = User32<Fn>("AdjustWindowRectExForDpi");
  if (forDpi && forDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi))) return;
  ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
}

}  // namespace win
