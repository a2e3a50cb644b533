// The dpi a window is shown at. The programs are per-monitor aware (the
// manifest says so); on systems before Windows 10 1607 the screen's dpi
// stands for every window.
#pragma once

#include <windows.h>

namespace win {

// The window's dpi (96 at 100 %, 144 at 150 %).
int WindowDpi(HWND hwnd);
// The dpi a new top-level window starts at: the primary monitor's.
int SystemDpi();
// GetSystemMetrics for a dpi (icon sizes, ...).
int MetricForDpi(int index, int dpi);
// The outer rectangle of a window of that style whose client area is `r`,
// with the frame at the dpi.
void AdjustWindowRectForDpi(RECT& r, DWORD style, DWORD exStyle, int dpi);

}  // namespace win
