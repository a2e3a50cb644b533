// Size, centring and placement of the main window and its parts; the
// "/regstart" switch.
#include "client/mainwindow/mainlayout.h"

#include <gtest/gtest.h>

namespace mainwindow {
namespace {

Screen At96(int w, int h) { return {w, h, 15, 15}; }

TEST(MainLayout, RoundingAndHalving) {
  EXPECT_DOUBLE_EQ(TwipsPerPixel(96), 15);
  EXPECT_DOUBLE_EQ(TwipsPerPixel(120), 12);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(2.51), 3);
  EXPECT_EQ(RoundHalfEven(-0.4), 0);
  // Rounded first, then halved towards zero.
  EXPECT_EQ(CentreTwips(10.5, 0), 5);
  EXPECT_EQ(CentreTwips(11.5, 0), 6);
  EXPECT_EQ(CentreTwips(4185, 0), 2092);
  EXPECT_EQ(CentreTwips(0, 3), -1);
  EXPECT_EQ(CentreTwips(0, 3015), -1507);
  EXPECT_EQ(TwipsToPixels(-25, 15), -2);
  EXPECT_EQ(TwipsToPixels(2092, 15), 139);
  EXPECT_EQ(TwipsToPixels(-1507, 15), -100);
  EXPECT_EQ(TwipsToPixels(1674, 12), 140);  // 139.5 goes up
}

TEST(MainLayout, CentredOnEvenOddAndSmallScreens) {
  struct {
    Screen s;
    int left, top;
  } cases[] = {
      {At96(1280, 1024), 140, 157},
      {At96(1279, 1023), 139, 156},   // 4185 -> 2092 twips; 4695 -> 2347 twips
      {At96(1000, 710), 0, 0},
      // Smaller than the window: no longer centred off the screen, its
      // top-left corner at the screen's.
      {At96(800, 600), 0, 0},
      {At96(799, 599), 0, 0},
  };
  for (const auto& c : cases) {
    Layout l = LayoutMain(c.s, 104, 16);
    EXPECT_EQ(l.window, (PixelRect{c.left, c.top, c.left + 1000, c.top + 710})) << c.s.width << "x" << c.s.height;
  }
}

// At 120, 144 and 192 dpi the window measures 1000 x 710 times the scale
// and is centred on the screen in its pixels; the frame's edges are scaled
// and the border stays outside it.
TEST(MainLayout, ScaledWithTheWindowsDpi) {
  struct {
    int dpi;
    Screen s;
    PixelRect window, frame, browser;
  } cases[] = {
      // 1600 x 1280 screen pixels at 125 %: (1600 - 1250) / 2; 235.5 goes up at 150 %.
      {120, {1600, 1280, 12, 12}, {175, 196, 1425, 1084}, {3, 44, 1249, 885}, {-2, -2, 1247, 842}},
      {144, {1920, 1536, 10, 10}, {210, 236, 1710, 1301}, {3, 53, 1499, 1062}, {-2, -2, 1497, 1010}},
      {192, {2560, 2048, 7.5, 7.5}, {280, 314, 2280, 1734}, {4, 70, 1998, 1416}, {-3, -3, 1995, 1347}},
      // An odd screen at 125 %: 1674 twips = 139.5 px goes up.
      {120, {1529, 1279, 12, 12}, {140, 196, 1390, 1084}, {3, 44, 1249, 885}, {-2, -2, 1247, 842}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    Layout l = LayoutMain(c.s, 104, 16);
    EXPECT_DOUBLE_EQ(l.scale, skin::ScaleOf(c.dpi));
    EXPECT_EQ(l.window, c.window);
    EXPECT_EQ(l.picFrame, c.frame);
    EXPECT_EQ(l.browser1, c.browser);
    // The chrome is placed in 96-dpi pixels whatever the scale.
    EXPECT_DOUBLE_EQ(l.chrome.close.left, 962);
    EXPECT_EQ(l.chrome.line4, (skin::LineCoords{0, 708.5, 1000, 708.5}));
  }
}

TEST(MainLayout, ChromeFrameAndBrowsers) {
  Layout l = LayoutMain(At96(1280, 1024), 104, 16);
  EXPECT_DOUBLE_EQ(l.chrome.close.left, 962);
  EXPECT_DOUBLE_EQ(l.chrome.minimize.left, 924);
  EXPECT_DOUBLE_EQ(l.chrome.title.left, 45);
  EXPECT_DOUBLE_EQ(l.chrome.title.top, 9.5);
  EXPECT_DOUBLE_EQ(l.chrome.top.width, 1000);
  EXPECT_EQ(l.chrome.line3, (skin::LineCoords{999, 0, 999, 710}));
  EXPECT_EQ(l.chrome.line4, (skin::LineCoords{0, 708.5, 1000, 708.5}));
  // picFrame: top 35, left 2, height 673, width 997.
  EXPECT_EQ(l.picFrame, (PixelRect{2, 35, 999, 708}));
  // The browser from -25 twips to one pixel beyond the frame.
  EXPECT_EQ(l.browser1, (PixelRect{-2, -2, 998, 674}));
  EXPECT_EQ(l.browser2, (PixelRect{-10, -10, -10, -10}));
}

TEST(MainLayout, RegStartAnywhereInTheArgumentsAndCaseSensitive) {
  EXPECT_EQ(ArgumentText(u"\"C:\\Program Files\\Velmora\\velBox.exe\" /regstart"), u"/regstart");
  EXPECT_EQ(ArgumentText(u"velBox.exe  -x /regstart"), u"-x /regstart");
  EXPECT_EQ(ArgumentText(u"\"C:\\a b\\velBox.exe\""), u"");
  EXPECT_EQ(ArgumentText(u"velBox.exe"), u"");
  EXPECT_EQ(ArgumentText(u"\"unterminated /regstart"), u"");
  EXPECT_TRUE(HasRegStart(u"/regstart"));
  EXPECT_TRUE(HasRegStart(u"x/regstartx"));
  EXPECT_TRUE(HasRegStart(ArgumentText(u"\"C:\\v\\velBox.exe\" /regstart")));
  EXPECT_FALSE(HasRegStart(u"/REGSTART"));
  EXPECT_FALSE(HasRegStart(u"/RegStart"));
  EXPECT_FALSE(HasRegStart(u"regstart"));
  // The program part does not count.
  EXPECT_FALSE(HasRegStart(ArgumentText(u"\"C:/regstart/velBox.exe\"")));
}

}  // namespace
}  // namespace mainwindow
