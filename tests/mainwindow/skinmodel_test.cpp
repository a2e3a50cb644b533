// Hit-testing, drawing order, mouse routing, hover transitions, chrome
// placement, the controls an accessibility client sees and the text colours
// of the skinned windows.
#include "client/mainwindow/skinmodel.h"

#include <gtest/gtest.h>

#include "client/mainwindow/contrast.h"

namespace skin {
namespace {

Element Image(std::u16string name, int index, double l, double t, double w, double h) {
  Element e;
  e.kind = Kind::kImage;
  e.name = std::move(name);
  e.index = index;
  e.box = {l, t, w, h};
  return e;
}

Element Line(double x1, double y1, double x2, double y2) {
  Element e;
  e.kind = Kind::kLine;
  e.name = u"Line";
  e.x1 = x1;
  e.y1 = y1;
  e.x2 = x2;
  e.y2 = y2;
  return e;
}

// The title strip of the main window, topmost first as the form lists it.
struct Strip {
  Scene s;
  int close1, min1, min0, close0, line, top;
  Strip() {
    close1 = s.Add(Image(u"imgClose", 1, 962, 2, 36, 20));
    min1 = s.Add(Image(u"imgMin", 1, 924, 2, 36, 20));
    min0 = s.Add(Image(u"imgMin", 0, 924, 2, 36, 20));
    close0 = s.Add(Image(u"imgClose", 0, 962, 2, 36, 20));
    line = s.Add(Line(0, 0, 1000, 0));
    top = s.Add(Image(u"imgTop", -1, 0, 0, 1000, 35));
    s.at(close1).visible = false;
    s.at(min1).visible = false;
  }
};

TEST(SkinScene, HitTestFindsTheTopmostVisibleElementAndLinesTakeNoMouse) {
  Strip st;
  EXPECT_EQ(st.s.HitTest(970, 10), st.close0);
  st.s.at(st.close1).visible = true;
  EXPECT_EQ(st.s.HitTest(970, 10), st.close1);
  EXPECT_EQ(st.s.HitTest(930, 10), st.min0);
  // The 2-pixel gap between the buttons belongs to the strip.
  EXPECT_EQ(st.s.HitTest(960, 10), st.top);
  EXPECT_EQ(st.s.HitTest(961, 10), st.top);
  EXPECT_EQ(st.s.HitTest(962, 2), st.close1);
  EXPECT_EQ(st.s.HitTest(997, 21), st.close1);
  EXPECT_EQ(st.s.HitTest(998, 21), st.top);
  EXPECT_EQ(st.s.HitTest(997, 22), st.top);
  // The line at row 0 lies over the strip but the strip gets the mouse.
  EXPECT_EQ(st.s.HitTest(500, 0), st.top);
  EXPECT_EQ(st.s.HitTest(500, 35), kSurface);
  EXPECT_EQ(st.s.HitTest(-1, 10), kSurface);
  st.s.at(st.top).visible = false;
  EXPECT_EQ(st.s.HitTest(500, 10), kSurface);
}

TEST(SkinScene, DrawOrderIsBottommostFirstWithoutHiddenElements) {
  Strip st;
  EXPECT_EQ(st.s.DrawOrder(), (std::vector<int>{st.top, st.line, st.close0, st.min0}));
  st.s.at(st.close1).visible = true;
  st.s.at(st.close0).visible = false;
  EXPECT_EQ(st.s.DrawOrder(), (std::vector<int>{st.top, st.line, st.min0, st.close1}));
  EXPECT_EQ(st.s.Find(u"imgClose", 1), st.close1);
  EXPECT_EQ(st.s.Find(u"imgClose"), -1);
  EXPECT_EQ(st.s.Find(u"imgTop"), st.top);
}

TEST(SkinScene, FractionalCoordinatesLandOnTheNearestPixel) {
  EXPECT_EQ(ToPixel(708.5), 709);
  EXPECT_EQ(ToPixel(708.49), 708);
  EXPECT_EQ(ToPixel(999), 999);
  EXPECT_EQ(ToPixel(-1.5), -1);
  EXPECT_EQ(ToPixel(-1.6), -2);
  Element l = Line(0, 710 - 1.5, 1000, 710 - 1.5);
  EXPECT_EQ(PixelLineOf(l), (PixelLine{0, 709, 1000, 709}));
  Element label = Image(u"lblTitle", -1, 45, 9.5, 96, 16);
  EXPECT_EQ(PixelBox(label), (PixelRect{45, 10, 141, 26}));
}

// At a scale the boxes grow with it, the border lines keep to the window's
// last row and column and are as thick as one 96-dpi pixel, and the mouse
// finds the elements at their scaled places.
TEST(SkinScene, ScaledPlacesBandsAndHits) {
  EXPECT_DOUBLE_EQ(ScaleOf(96), 1);
  EXPECT_DOUBLE_EQ(ScaleOf(144), 1.5);
  Element close = Image(u"imgClose", 0, 238, 2, 36, 20);
  EXPECT_EQ(PixelBox(close, 1.25), (PixelRect{298, 3, 343, 28}));   // 297.5, 2.5, 45 x 25
  EXPECT_EQ(PixelBox(close, 2), (PixelRect{476, 4, 548, 44}));
  // The dialog, 276 x 267: its window is 345 x 334 at 125 %, 414 x 401 at 150 %.
  const Element right = Line(275, 0, 275, 267), bottom = Line(0, 267 - 1.5, 276, 267 - 1.5), left = Line(0, 0, 0, 267);
  EXPECT_EQ(LineBand(right, 1), (PixelRect{275, 0, 276, 267}));
  EXPECT_EQ(LineBand(bottom, 1), (PixelRect{0, 266, 276, 267}));
  EXPECT_EQ(LineBand(right, 1.25), (PixelRect{344, 0, 345, 334}));
  EXPECT_EQ(LineBand(bottom, 1.25), (PixelRect{0, 333, 345, 334}));
  EXPECT_EQ(LineBand(bottom, 1.5), (PixelRect{0, 399, 414, 401}));
  EXPECT_EQ(LineBand(left, 1.5), (PixelRect{0, 0, 2, 401}));
  EXPECT_EQ(LineBand(left, 2), (PixelRect{0, 0, 2, 534}));
  EXPECT_EQ(ScaleEdges(2, 35, 999, 708, 1.5), (PixelRect{3, 53, 1499, 1062}));

  Strip st;
  st.s.SetScale(1.5);
  EXPECT_EQ(st.s.HitTest(1455, 15), st.close0);
  EXPECT_EQ(st.s.HitTest(1443, 3), st.close0);  // 962 x 1.5: the button's first column
  EXPECT_EQ(st.s.HitTest(1441, 10), st.top);    // the gap
  EXPECT_EQ(st.s.HitTest(500, 52), st.top);     // the strip ends at 52.5
  EXPECT_EQ(st.s.HitTest(500, 53), kSurface);
}

TEST(SkinMouse, APressKeepsTheMouseUntilItsRelease) {
  Strip st;
  MouseRouter r;
  EXPECT_EQ(r.Move(st.s, 970, 10), (std::vector<Dispatch>{{MouseEvent::kMove, st.close0, 0}}));
  EXPECT_EQ(r.Down(st.s, 970, 10, kLeftButton), (std::vector<Dispatch>{{MouseEvent::kDown, st.close0, 1}}));
  EXPECT_TRUE(r.WantsCapture());
  // Dragged off the button and out of the window: still the button's.
  EXPECT_EQ(r.Move(st.s, 500, 300).at(0).target, st.close0);
  EXPECT_EQ(r.Move(st.s, -50, -50).at(0).target, st.close0);
  // Released elsewhere: its release, but no click.
  EXPECT_EQ(r.Up(st.s, 500, 300, kLeftButton), (std::vector<Dispatch>{{MouseEvent::kUp, st.close0, 1}}));
  EXPECT_FALSE(r.WantsCapture());
  EXPECT_EQ(r.Move(st.s, 500, 300).at(0).target, kSurface);
}

TEST(SkinMouse, ALeftReleaseOverThePressedElementIsAClickOtherButtonsAreNot) {
  Strip st;
  MouseRouter r;
  r.Down(st.s, 930, 10, kLeftButton);
  EXPECT_EQ(r.Up(st.s, 931, 11, kLeftButton),
            (std::vector<Dispatch>{{MouseEvent::kUp, st.min0, 1}, {MouseEvent::kClick, st.min0, 1}}));
  r.Down(st.s, 930, 10, kRightButton);
  EXPECT_EQ(r.Up(st.s, 930, 10, kRightButton), (std::vector<Dispatch>{{MouseEvent::kUp, st.min0, 2}}));
  // A second button pressed meanwhile goes to the first press's element,
  // and the mouse stays there until both are up.
  r.Down(st.s, 930, 10, kRightButton);
  EXPECT_EQ(r.Down(st.s, 500, 10, kLeftButton).at(0).target, st.min0);
  EXPECT_EQ(r.Up(st.s, 500, 10, kRightButton).at(0).target, st.min0);
  EXPECT_TRUE(r.WantsCapture());
  auto last = r.Up(st.s, 500, 10, kLeftButton);
  EXPECT_EQ(last, (std::vector<Dispatch>{{MouseEvent::kUp, st.min0, 1}}));
  EXPECT_FALSE(r.WantsCapture());
}

TEST(SkinMouse, AfterTheCaptureIsLostAReleaseBelongsToWhatIsUnderThePointer) {
  Strip st;
  MouseRouter r;
  r.Down(st.s, 500, 10, kLeftButton);
  EXPECT_EQ(r.Pressed(), st.top);
  r.CaptureLost();  // a drag of the window took it
  EXPECT_EQ(r.Pressed(), kSurface);
  EXPECT_EQ(r.Up(st.s, 970, 10, kLeftButton), (std::vector<Dispatch>{{MouseEvent::kUp, st.close0, 1}}));
}

TEST(SkinHover, CloseStraightOntoMinimiseKeepsCloseInHover) {
  HoverSet h(2);  // 0 close, 1 minimise
  EXPECT_FALSE(h.OnStripMove());
  EXPECT_TRUE(h.OnButtonMove(0));
  EXPECT_TRUE(h.Flag());
  EXPECT_TRUE(h.HoverShown(0));
  EXPECT_TRUE(h.HandCursor());
  EXPECT_FALSE(h.OnButtonMove(0));
  // Across the gap onto minimise, without touching the strip.
  EXPECT_FALSE(h.OnButtonMove(1));
  EXPECT_TRUE(h.HoverShown(0));
  EXPECT_FALSE(h.HoverShown(1));
  // The strip restores both and the arrow.
  EXPECT_TRUE(h.OnStripMove());
  EXPECT_FALSE(h.Flag());
  EXPECT_FALSE(h.HoverShown(0));
  EXPECT_FALSE(h.HoverShown(1));
  EXPECT_FALSE(h.HandCursor());
  EXPECT_TRUE(h.OnButtonMove(1));
  EXPECT_TRUE(h.HoverShown(1));
  EXPECT_FALSE(h.HoverShown(0));
}

TEST(SkinHover, TheLayoutResetsPicturesButNotTheFlag) {
  HoverSet h(1);
  h.OnButtonMove(0);
  h.ResetPictures();
  EXPECT_FALSE(h.HoverShown(0));
  EXPECT_TRUE(h.Flag());
  // So no hover picture until the strip has been crossed.
  EXPECT_FALSE(h.OnButtonMove(0));
  EXPECT_FALSE(h.HoverShown(0));
  EXPECT_TRUE(h.OnStripMove());
  EXPECT_TRUE(h.OnButtonMove(0));
}

TEST(SkinChrome, MainWindowPlacement) {
  ChromeInput in;
  in.width = 1000;
  in.height = 710;
  in.titleWidth = 104;
  in.titleHeight = 16;
  ChromeLayout c = PlaceChrome(in);
  EXPECT_DOUBLE_EQ(c.top.width, 1000);
  EXPECT_DOUBLE_EQ(c.top.height, 35);
  EXPECT_DOUBLE_EQ(c.icon.left, 5);
  EXPECT_DOUBLE_EQ(c.icon.top, 2);
  EXPECT_DOUBLE_EQ(c.title.left, 45);
  EXPECT_DOUBLE_EQ(c.title.top, 9.5);
  EXPECT_DOUBLE_EQ(c.close.left, 962);
  EXPECT_DOUBLE_EQ(c.close.top, 2);
  EXPECT_DOUBLE_EQ(c.minimize.left, 924);
  EXPECT_DOUBLE_EQ(c.minimize.top, 2);
  EXPECT_EQ(c.line1, (LineCoords{0, 0, 0, 710}));
  EXPECT_EQ(c.line2, (LineCoords{0, 0, 1000, 0}));
  EXPECT_EQ(c.line3, (LineCoords{999, 0, 999, 710}));
  EXPECT_EQ(c.line4, (LineCoords{0, 708.5, 1000, 708.5}));
}

TEST(SkinChrome, DialogPlacementWithoutMinimise) {
  ChromeInput in;
  in.width = 276;
  in.height = 267;
  in.titleWidth = 64;
  in.titleHeight = 17;
  in.hasMinimize = false;
  ChromeLayout c = PlaceChrome(in);
  EXPECT_DOUBLE_EQ(c.close.left, 238);
  EXPECT_DOUBLE_EQ(c.title.top, 9);
  EXPECT_EQ(c.line3, (LineCoords{275, 0, 275, 267}));
  EXPECT_EQ(c.line4, (LineCoords{0, 265.5, 276, 265.5}));
}

// The caption buttons as a screen reader sees them: found at every pixel of
// either picture (the hover one while it is shown), placed where the visible
// one is, at the window's scale; the strip around them is no control.
TEST(SkinAccessible, ControlsAreFoundByTheirPicturesAndPlacedWhereTheyShow) {
  Strip st;
  const std::vector<AccessibleControl> controls{{u"最小化", {st.min0, st.min1}}, {u"关闭", {st.close0, st.close1}}};
  EXPECT_EQ(AccessibleAt(st.s, controls, 930, 10), 0);
  EXPECT_EQ(AccessibleAt(st.s, controls, 997, 21), 1);
  EXPECT_EQ(AccessibleAt(st.s, controls, 961, 10), -1);  // the gap: the strip
  EXPECT_EQ(AccessibleAt(st.s, controls, 500, 100), -1);  // the bare surface
  st.s.at(st.close1).visible = true;
  st.s.at(st.close0).visible = false;
  EXPECT_EQ(AccessibleAt(st.s, controls, 970, 10), 1);
  EXPECT_EQ(AccessibleBox(st.s, controls[1]), (PixelRect{962, 2, 998, 22}));
  st.s.SetScale(1.5);
  EXPECT_EQ(AccessibleAt(st.s, controls, 1400, 20), 0);  // 933, 13 at 96 dpi
  EXPECT_EQ(AccessibleBox(st.s, controls[0]), (PixelRect{1386, 3, 1440, 33}));
  // Nothing of it shown: nowhere.
  st.s.at(st.close1).visible = false;
  EXPECT_EQ(AccessibleBox(st.s, controls[1]), PixelRect{});
}

// An image button is its picture, the label that takes its mouse (over the
// picture and a pixel below it) and its caption: its place covers them all.
TEST(SkinAccessible, AnImageButtonIsItsPictureLabelAndCaption) {
  Scene s;
  Element respond;
  respond.kind = Kind::kLabel;
  respond.name = u"lbl_RespondCmd";
  respond.box = {24, 208, 93, 41};
  Element caption = respond;
  caption.name = u"Label1";
  caption.box = {58.5, 221, 28, 14};
  const int r = s.Add(respond);
  const int c = s.Add(caption);
  const int f = s.Add(Image(u"img_ShowFrame", 0, 24, 208, 97, 40));
  const std::vector<AccessibleControl> ok{{u"确定", {r, f, c}}};
  EXPECT_EQ(AccessibleAt(s, ok, 70, 228), 0);
  EXPECT_EQ(AccessibleAt(s, ok, 119, 220), 0);  // the picture's strip right of the label
  EXPECT_EQ(AccessibleBox(s, ok[0]), (PixelRect{24, 208, 121, 249}));
}

TEST(SkinColours, ContrastRatios) {
  EXPECT_NEAR(ContrastRatio(0x000000, 0xFFFFFF), 21, 1e-9);
  EXPECT_NEAR(ContrastRatio(0xFFFFFF, 0x000000), 21, 1e-9);
  EXPECT_NEAR(ContrastRatio(0x777777, 0x777777), 1, 1e-9);
  // The palest grey still readable on white, and the next one.
  EXPECT_GE(ContrastRatio(0x767676, 0xFFFFFF), kReadableContrast);
  EXPECT_LT(ContrastRatio(0x777777, 0xFFFFFF), kReadableContrast);
  // High contrast's yellow on black.
  EXPECT_GT(ContrastRatio(0xFFFF00, 0x000000), 19);
}

TEST(SkinColours, TheSystemsPairUnderHighContrastOrWhereTheSkinsWouldNotBeReadable) {
  // The usual scheme: the skin's white with the button text on it.
  SystemColours normal;
  EXPECT_EQ(ChooseTextColours(normal), (TextColours{false, 0x000000, kSkinWhite}));
  // High contrast black: white on black, also where the button text would
  // have been readable on the skin.
  SystemColours black{true, 0xFFFFFF, 0x000000, 0xFFFFFF};
  EXPECT_EQ(ChooseTextColours(black), (TextColours{true, 0xFFFFFF, 0x000000}));
  SystemColours white{true, 0x000000, 0xFFFFFF, 0x000000};
  EXPECT_EQ(ChooseTextColours(white), (TextColours{true, 0x000000, 0xFFFFFF}));
  // A dark scheme without the high-contrast flag (and Wine, which never
  // reports the flag): the button text would vanish on the skin's white.
  SystemColours dark{false, 0xFFFF00, 0x000000, 0xFFFFFF};
  EXPECT_EQ(ChooseTextColours(dark), (TextColours{true, 0xFFFF00, 0x000000}));
  // A coloured but readable button text keeps the skin.
  SystemColours blue{false, 0x000000, 0xFFFFFF, 0x000080};
  EXPECT_EQ(ChooseTextColours(blue), (TextColours{false, 0x000080, kSkinWhite}));
}

}  // namespace
}  // namespace skin
