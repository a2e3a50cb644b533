// The tray form's decisions: which shell messages do anything, and what the
// show command does to the main window.
#include "client/tray/traymodel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using traymodel::ActionForTrayMessage;
using traymodel::MainWindowStep;
using traymodel::StepForMainWindow;
using traymodel::TrayAction;
using traymodel::TrayMessageNumber;

TEST(TrayMessages, OnlyLeftDoubleClickAndRightPressAct) {
  EXPECT_EQ(ActionForTrayMessage(515), TrayAction::kShowMain);
  EXPECT_EQ(ActionForTrayMessage(516), TrayAction::kPopupMenu);
  // Move, left press and release, right release, right double click,
  // middle button, the balloon's and the keyboard's notifications.
  for (int n : {0x200, 0x201, 0x202, 0x205, 0x206, 0x207, 0x208, 0x209, 0x400, 0x401, 0x402, 0x403, 0x404, 0x405,
                0x7B, 0, -1, 515 * 15, 516 + 0x10000}) {
    EXPECT_EQ(ActionForTrayMessage(n), TrayAction::kNothing) << n;
  }
}

TEST(TrayMessages, TheNumberIsTheMoveXOfLParam) {
  // Classic callbacks carry the bare message number.
  EXPECT_EQ(TrayMessageNumber(0x203), 515);
  EXPECT_EQ(TrayMessageNumber(0x204), 516);
  EXPECT_EQ(TrayMessageNumber(0x402), 0x402);
  // A mouse move's x is the signed low word; the high word is y.
  EXPECT_EQ(TrayMessageNumber(0x00050203), 515);
  EXPECT_EQ(TrayMessageNumber(0xFFFF), -1);
  EXPECT_EQ(TrayMessageNumber(0x8000), -32768);
  EXPECT_EQ(TrayMessageNumber(-1), -1);
  EXPECT_EQ(TrayMessageNumber(0x7FFF'0000'0204LL), 516);
  // So a version-4 callback (icon id in the high word) would still be read
  // by its low word.
  EXPECT_EQ(ActionForTrayMessage(TrayMessageNumber((88888LL << 16) | 0x203)), TrayAction::kShowMain);
}

TEST(ShowMain, NavigatesOnlyFromTheBlankPageOfAHiddenStart) {
  EXPECT_TRUE(traymodel::NeedsNoAutoplayNavigation(u"about:blank"));
  for (auto s : {u"", u"About:blank", u"about:blank ", u" about:blank", u"about:blan", u"http://127.0.0.1:1",
                 u"http://127.0.0.1:1/?autoplay=0"}) {
    EXPECT_FALSE(traymodel::NeedsNoAutoplayNavigation(s)) << std::u16string(s).size();
  }
}

TEST(ShowMain, HiddenShowsNormalShownTogglesMaximisedStays) {
  // Hidden: shown and normal, whatever state it was hidden in.
  for (int state : {0, 1, 2}) EXPECT_EQ(StepForMainWindow(false, state), MainWindowStep::kShowNormal) << state;
  EXPECT_EQ(StepForMainWindow(true, 0), MainWindowStep::kMinimize);
  EXPECT_EQ(StepForMainWindow(true, 1), MainWindowStep::kRestore);
  EXPECT_EQ(StepForMainWindow(true, 2), MainWindowStep::kNothing);
  EXPECT_EQ(StepForMainWindow(true, 3), MainWindowStep::kNothing);
  EXPECT_EQ(StepForMainWindow(true, -1), MainWindowStep::kNothing);
}

}  // namespace
