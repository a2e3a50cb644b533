// What the engine is told for every page: the ambient download control and
// the keys kept from it.
#include "client/mainwindow/enginerestrictions.h"

#include <mshtmdid.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(EngineRestrictions, PagesLoadWholeButFetchNoControlAndRunNoJava) {
  const LONG dl = enginerestrictions::DownloadControl();
  EXPECT_EQ(dl & (DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_JAVA), DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_JAVA);
  // Installed controls are the security manager's to decide per page.
  EXPECT_EQ(dl & DLCTL_NO_RUNACTIVEXCTLS, 0);
  // The page itself still loads whole, and the notice browser is not silent.
  EXPECT_EQ(dl & (DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS), DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS);
  EXPECT_EQ(dl & (DLCTL_NO_SCRIPTS | DLCTL_NO_FRAMEDOWNLOAD | DLCTL_NOFRAMES | DLCTL_SILENT | DLCTL_DOWNLOADONLY), 0);
}

TEST(EngineRestrictions, TheEngineKeepsTheKeysOfThePageButNotItsOwnWindowsAndAddresses) {
  BYTE keys[256] = {};
  ASSERT_TRUE(::GetKeyboardState(keys));
  auto kept = [&](bool ctrl, bool alt, WPARAM vk, UINT message = WM_KEYDOWN) {
    BYTE held[256];
    std::memcpy(held, keys, sizeof held);
    held[VK_CONTROL] = ctrl ? 0x80 : 0;
    held[VK_MENU] = alt ? 0x80 : 0;
    ::SetKeyboardState(held);
    const bool result = enginerestrictions::IsKeptFromEngine(MSG{nullptr, message, vk, 0});
    ::SetKeyboardState(keys);
    return result;
  };
  EXPECT_TRUE(kept(true, false, 'N'));
  EXPECT_TRUE(kept(true, false, 'O'));
  EXPECT_TRUE(kept(true, false, 'L'));
  EXPECT_FALSE(kept(true, false, 'C'));
  EXPECT_FALSE(kept(false, false, 'N'));
  EXPECT_FALSE(kept(true, true, 'N')) << "AltGr";
  EXPECT_FALSE(kept(true, false, 'N', WM_KEYUP));
}

}  // namespace
