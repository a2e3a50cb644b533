// Both skinned windows at the process's dpi: 96 in the normal run, and 120,
// 144 and 192 when the dpi end-to-end test (test_dpi.py) runs these again
// with the prefix's LogPixels changed. The windows measure their 96-dpi size
// times the scale, every caption fits its control, and the chrome is painted
// at its scaled places with the pictures drawn for the scale.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "artwork/resource.h"
#include "client/mainwindow/frmMain.h"
#include "client/settings/frmProgramSet.h"
#include "client/startup/modChkOptState.h"
#include "client/tray/frmMenu.h"
#include "client/tray/modTray.h"
#include "common/win/dpi.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#include "tests/mainwindow/clientforms.h"
#include "tests/support/testsupport.h"

namespace {

constexpr uint32_t kBorder = 0x097BB7;

double Scale() { return win::SystemDpi() / 96.0; }
int Scaled(double v) { return skin::ToPixel(v * Scale()); }

uint32_t PixelAt(HBITMAP bmp, int x, int y) {
  DIBSECTION ds{};
  ::GetObjectW(bmp, sizeof ds, &ds);
  return static_cast<const uint32_t*>(ds.dsBm.bmBits)[y * ds.dsBm.bmWidth + x] & 0xFFFFFF;
}

// The picture of resource `id` as drawn for the scale.
skin::Picture PictureForScale(int id, double s = Scale()) {
  const int k = s > 1.75 ? 3 : s > 1.375 ? 2 : s > 1.1 ? 1 : 0;
  return skin::Picture::FromBitmapResource(id + skin::Picture::kScaleStep * k);
}

// Pixels of `shot` at (x, y) that differ from the picture, or -1 when the
// picture does not have the size the element has there.
int Mismatches(HBITMAP shot, const skin::PixelRect& at, const skin::Picture& picture) {
  if (at.right - at.left != picture.width() || at.bottom - at.top != picture.height()) return -1;
  int bad = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (PixelAt(shot, at.left + x, at.top + y) != PixelAt(picture.bitmap(), x, y)) ++bad;
  return bad;
}

// The text of a check box in its own font, with the box's square and the
// gap beside it, within the control.
void ExpectCaptionFits(HWND box) {
  wchar_t text[64] = {};
  const int n = ::GetWindowTextW(box, text, 64);
  ASSERT_GT(n, 0);
  win::WindowDc dc(box);
  win::SelectGuard sel(dc.get(), reinterpret_cast<HFONT>(::SendMessageW(box, WM_GETFONT, 0, 0)));
  SIZE extent{};
  ::GetTextExtentPoint32W(dc.get(), text, n, &extent);
  RECT client;
  ::GetClientRect(box, &client);
  const int square = win::MetricForDpi(SM_CXMENUCHECK, win::WindowDpi(box));
  EXPECT_LE(square + extent.cx, client.right) << "caption cut off: " << extent.cx << " + " << square;
  EXPECT_LE(extent.cy, client.bottom);
  // The font follows the dpi: 9 points.
  LOGFONTW lf{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(box, WM_GETFONT, 0, 0)), sizeof lf, &lf);
  EXPECT_EQ(lf.lfHeight, -skin::ToPixel(9 * win::WindowDpi(box) / 72.0));
}

class DpiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::Form::SetEndWhenNoneLoaded(false);
    ASSERT_TRUE(testsupport::WriteFileBytes(
        folder / L"cfg.xml",
        "<config><autorun></autorun><shortlnk></shortlnk><closetotray>0</closetotray><ver>1.0.0</ver></config>"));
  }
  void TearDown() override {
    testsupport::UnloadClientForms();
    // The next test's main window starts as a fresh object's would.
    frmMain::Instance().bActivated = false;
    frmMain::Instance().m_strOpenNet.clear();
    win::Form::SetEndWhenNoneLoaded(true);
    modChkOptState::bCloseToTray = closeToTrayBefore;
  }
  win::OleScope ole;
  const bool closeToTrayBefore = modChkOptState::bCloseToTray;
  testsupport::TempDir folder;
  testsupport::AppFolderScope app{folder.path()};
};

TEST_F(DpiTest, MainWindowMeasuresItsSizeTimesTheScaleWithItsChromeThere) {
  frmMain& f = frmMain::Instance();
  f.Show();
  ASSERT_TRUE(win::WaitWithMessages(10000, [&] { return f.bActivated && f.WebBrowser1.IsCreated(); }));
  HWND h = f.hWnd();
  EXPECT_EQ(win::WindowDpi(h), win::SystemDpi());
  EXPECT_DOUBLE_EQ(f.Scale(), Scale());
  RECT rc;
  ::GetWindowRect(h, &rc);
  EXPECT_NEAR(rc.right - rc.left, 1000 * Scale(), 1);
  EXPECT_NEAR(rc.bottom - rc.top, 710 * Scale(), 1);
  const int w = rc.right - rc.left, hh = rc.bottom - rc.top;
  RECT frame;
  ::GetWindowRect(f.picFrame(), &frame);
  EXPECT_EQ(frame.left - rc.left, Scaled(2));
  EXPECT_EQ(frame.top - rc.top, Scaled(35));
  EXPECT_EQ(frame.right - rc.left, Scaled(999));

  // The title fits the strip.
  const skin::Element& title = f.El(f.ids().lblTitle);
  EXPECT_GE(title.box.top, 0);
  EXPECT_LE(title.box.top + title.box.height, 35);
  EXPECT_LE(title.box.left + title.box.width, 924);

  auto shot = f.Snapshot();
  ASSERT_TRUE(shot);
  for (auto [x, y] : {std::pair{0, hh / 2}, {w - 1, hh / 2}, {w / 2, 0}, {w / 2, hh - 1}})
    EXPECT_EQ(PixelAt(shot.get(), x, y), kBorder) << x << "," << y;
  EXPECT_EQ(PixelAt(shot.get(), Scaled(1) + 1, hh / 2), 0xFFFFFFu);
  const skin::PixelRect close = skin::PixelBox(f.El(f.ids().imgClose[0]), f.Scale());
  EXPECT_EQ(close.left, Scaled(962));
  EXPECT_EQ(Mismatches(shot.get(), close, PictureForScale(IDB_CLOSE_NORMAL)), 0);
  const skin::PixelRect min = skin::PixelBox(f.El(f.ids().imgMin[0]), f.Scale());
  EXPECT_EQ(Mismatches(shot.get(), min, PictureForScale(IDB_MIN_NORMAL)), 0);
  const skin::PixelRect icon = skin::PixelBox(f.El(f.ids().imgIcon), f.Scale());
  EXPECT_EQ(icon.right - icon.left, Scaled(32));
}

TEST_F(DpiTest, DialogMeasuresItsSizeTimesTheScaleAndEveryCaptionFits) {
  frmProgramSet& d = frmProgramSet::Instance();
  HWND h = d.hWnd();  // loaded hidden
  ASSERT_NE(h, nullptr);
  RECT rc;
  ::GetWindowRect(h, &rc);
  EXPECT_NEAR(rc.right - rc.left, 276 * Scale(), 1);
  EXPECT_NEAR(rc.bottom - rc.top, 267 * Scale(), 1);
  const int w = rc.right - rc.left, hh = rc.bottom - rc.top;

  for (int i : {0, 3, 1}) {
    SCOPED_TRACE(i);
    ExpectCaptionFits(d.Check1(i));
  }
  RECT box;
  ::GetWindowRect(d.Check1(1), &box);
  EXPECT_EQ(box.left - rc.left, Scaled(32));
  EXPECT_EQ(box.top - rc.top, Scaled(160));
  // The button captions on their pictures, the title on the strip.
  for (auto [label, frame] : {std::pair{u"Label1", 0}, {u"Label2", 1}}) {
    const skin::Box& l = d.El(d.FindElement(label)).box;
    const skin::Box& f = d.El(d.FindElement(u"img_ShowFrame", frame)).box;
    EXPECT_GE(l.left, f.left);
    EXPECT_LE(l.left + l.width, f.left + f.width);
    EXPECT_GE(l.top, f.top);
    EXPECT_LE(l.top + l.height, f.top + f.height);
  }
  const skin::Box& title = d.El(d.FindElement(u"lblTitle")).box;
  EXPECT_LE(title.top + title.height, 35);
  EXPECT_LE(title.left + title.width, 238);

  auto shot = d.Snapshot();
  ASSERT_TRUE(shot);
  for (auto [x, y] : {std::pair{0, hh / 2}, {w - 1, hh / 2}, {w / 2, 0}, {w / 2, hh - 1}})
    EXPECT_EQ(PixelAt(shot.get(), x, y), kBorder) << x << "," << y;
  const skin::PixelRect close = skin::PixelBox(d.El(d.FindElement(u"imgClose", 0)), d.Scale());
  EXPECT_EQ(close.left, Scaled(238));
  EXPECT_EQ(Mismatches(shot.get(), close, PictureForScale(IDB_SET_CLOSE_NORMAL)), 0);
  const skin::PixelRect ok = skin::PixelBox(d.El(d.FindElement(u"img_ShowFrame", 0)), d.Scale());
  EXPECT_EQ(ok.left, Scaled(24));
  EXPECT_EQ(ok.top, Scaled(208));
  // The OK picture, but for its caption drawn over it.
  skin::Picture normal = PictureForScale(IDB_BTN_NORMAL);
  EXPECT_EQ(ok.right - ok.left, normal.width());
  EXPECT_EQ(PixelAt(shot.get(), ok.left + normal.width() / 2, ok.top), PixelAt(normal.bitmap(), normal.width() / 2, 0));
  EXPECT_EQ(PixelAt(shot.get(), ok.left + 2, ok.top + normal.height() / 2),
            PixelAt(normal.bitmap(), 2, normal.height() / 2));
}

// Moved to a monitor of another dpi (the system sends WM_DPICHANGED with the
// rectangle it proposes): the dialog takes that rectangle and shows its
// boxes, captions, chrome and pictures at the new scale; the main window
// places its frame and browser anew.
TEST_F(DpiTest, OnAMonitorOfAnotherDpiTheWindowsLayThemselvesOutAgain) {
  const int dpi = win::SystemDpi() == 144 ? 96 : 144;
  const double scale = dpi / 96.0;
  frmProgramSet& d = frmProgramSet::Instance();
  HWND h = d.hWnd();
  ASSERT_NE(h, nullptr);
  RECT proposed{40, 30, 40 + skin::ToPixel(276 * scale), 30 + skin::ToPixel(267 * scale)};
  ::SendMessageW(h, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&proposed));
  EXPECT_EQ(d.Dpi(), dpi);
  RECT rc;
  ::GetWindowRect(h, &rc);
  EXPECT_TRUE(::EqualRect(&rc, &proposed));
  RECT box;
  ::GetWindowRect(d.Check1(3), &box);
  EXPECT_EQ(box.left - rc.left, skin::ToPixel(32 * scale));
  EXPECT_EQ(box.top - rc.top, skin::ToPixel(112 * scale));
  EXPECT_EQ(box.right - rc.left, skin::ToPixel((32 + 121) * scale));
  LOGFONTW lf{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(d.Check1(3), WM_GETFONT, 0, 0)), sizeof lf, &lf);
  EXPECT_EQ(lf.lfHeight, -skin::ToPixel(9 * dpi / 72.0));
  auto shot = d.Snapshot();
  ASSERT_TRUE(shot);
  const int w = rc.right - rc.left, hh = rc.bottom - rc.top;
  EXPECT_EQ(PixelAt(shot.get(), w - 1, hh / 2), kBorder);
  EXPECT_EQ(PixelAt(shot.get(), w / 2, hh - 1), kBorder);
  const skin::PixelRect close = skin::PixelBox(d.El(d.FindElement(u"imgClose", 0)), scale);
  EXPECT_EQ(Mismatches(shot.get(), close, PictureForScale(IDB_SET_CLOSE_NORMAL, scale)), 0);

  // The main window takes the proposed rectangle where it fits the work
  // area at the new scale; where it does not (1500 x 1065 on the harness's
  // 1280 x 1024), the largest scale that does, inside the work area.
  frmMain& f = frmMain::Instance();
  HWND m = f.hWnd();
  RECT main{0, 0, skin::ToPixel(1000 * scale), skin::ToPixel(710 * scale)};
  ::SendMessageW(m, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&main));
  ::GetWindowRect(m, &rc);
  const skin::PixelRect work = skin::SkinForm::WorkAreaOf(m);
  if (main.right <= work.right - work.left && main.bottom <= work.bottom - work.top) {
    EXPECT_TRUE(::EqualRect(&rc, &main));
    EXPECT_DOUBLE_EQ(f.Scale(), scale);
  } else {
    EXPECT_LT(f.Scale(), scale);
    EXPECT_GE(rc.left, work.left);
    EXPECT_GE(rc.top, work.top);
    EXPECT_LE(rc.right, work.right);
    EXPECT_LE(rc.bottom, work.bottom);
    EXPECT_TRUE(rc.right - rc.left == work.right - work.left || rc.bottom - rc.top == work.bottom - work.top);
    EXPECT_EQ(rc.right - rc.left, skin::ToPixel(1000 * f.Scale()));
  }
  // The frame at the scale the window is laid out at.
  const double s = f.Scale();
  RECT frame;
  ::GetWindowRect(f.picFrame(), &frame);
  EXPECT_EQ(frame.left - rc.left, skin::ToPixel(2 * s));
  EXPECT_EQ(frame.top - rc.top, skin::ToPixel(35 * s));
  EXPECT_EQ(frame.right - rc.left, skin::ToPixel(999 * s));
  EXPECT_EQ(frame.bottom - rc.top, skin::ToPixel(708 * s));
}

}  // namespace
