#include "client/tray/traymodel.h"

namespace traymodel {

int TrayMessageNumber(std::int64_t lParam) {
  const auto low = static_cast<std::uint16_t>(static_cast<std::uint64_t>(lParam) & 0xFFFFu);
  return low >= 0x8000u ? static_cast<int>(low) - 0x10000 : static_cast<int>(low);
}

TrayAction ActionForTrayMessage(int number) {
  switch (number) {
    case kLeftDoubleClick:
      return TrayAction::kShowMain;
    case kRightButtonDown:
      return TrayAction::kPopupMenu;
    default:
      return TrayAction::kNothing;
  }
}

bool NeedsNoAutoplayNavigation(std::u16string_view openNet) { return openNet == u"about:blank"; }

MainWindowStep StepForMainWindow(bool visible, int windowState) {
  if (!visible) return MainWindowStep::kShowNormal;
  switch (windowState) {
    case 0:
      return MainWindowStep::kMinimize;
    case 1:
      return MainWindowStep::kRestore;
    default:
      return MainWindowStep::kNothing;
  }
}

}  // namespace traymodel
