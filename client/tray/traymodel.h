// Decisions of the tray icon and its menu. No Windows header: built natively
// too.
#pragma once

#include <cstdint>
#include <string_view>

namespace traymodel {

// The icon's id towards the shell (with the window that receives its
// messages).
inline constexpr unsigned kTrayIconId = 88888;

// Mouse messages the shell reports in the callback (classic semantics: the
// message number is the whole of lParam).
inline constexpr int kLeftDoubleClick = 0x0203;  // WM_LBUTTONDBLCLK, 515
inline constexpr int kRightButtonDown = 0x0204;  // WM_RBUTTONDOWN, 516

// The callback comes as a mouse move, so the number is read as that move's
// x coordinate would be: the signed low word of lParam.
int TrayMessageNumber(std::int64_t lParam);

enum class TrayAction {
  kNothing,
  kShowMain,   // as "显示主窗口"
  kPopupMenu,  // the tray menu at the pointer
};

// What the tray form does for the message number. Only the double click
// with the left button and the press of the right one do anything; moves,
// single clicks, releases and balloon notifications do not.
TrayAction ActionForTrayMessage(int number);

// The main window's show command opens the music site without playback only
// while the browser still holds the blank page of a hidden start.
bool NeedsNoAutoplayNavigation(std::u16string_view openNet);

enum class MainWindowStep {
  kNothing,
  kShowNormal,  // visible on, then state normal
  kMinimize,
  kRestore,
};

// The show command on the main window: a hidden window is shown normally;
// a shown window toggles between normal (0) and minimised (1); maximised
// (2) or any other state stays.
MainWindowStep StepForMainWindow(bool visible, int windowState);

}  // namespace traymodel
