// The settings dialog when the system's colours change while it is open: a
// dark scheme takes every text to the system's text colour on its window
// colour - the captions of the check boxes, OK and Cancel and the title -
// and the usual scheme brings the skin back. SetSysColors changes the
// colours of the whole Wine session, so this runs only in a prefix of its
// own (tests/mainwindow/test_screens.py sets VELBOX_OWN_COLOURS).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "client/settings/frmProgramSet.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#include "tests/support/testsupport.h"

namespace {

// 0xRRGGBB at client pixel (x, y) of what the window shows, check boxes
// included.
class Capture {
 public:
  explicit Capture(HWND h) {
    ::RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    win::DoEvents();
    RECT rc;
    ::GetClientRect(h, &rc);
    width_ = rc.right;
    bmp_ = testsupport::CaptureWindow(h, &bits_);
  }
  uint32_t At(int x, int y) const { return bits_[y * width_ + x] & 0xFFFFFF; }
  int Count(RECT r, uint32_t c) const {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) n += At(x, y) == c;
    return n;
  }

 private:
  win::UniqueBitmap bmp_;
  const uint32_t* bits_ = nullptr;
  int width_ = 0;
};

RECT Box(const skin::Box& b) {
  return {skin::ToPixel(b.left), skin::ToPixel(b.top), skin::ToPixel(b.left + b.width),
          skin::ToPixel(b.top + b.height)};
}

TEST(HighContrast, TheDialogsTextsFollowTheSystemsColoursWhenTheyChange) {
  if (!std::getenv("VELBOX_OWN_COLOURS")) GTEST_SKIP() << "changes the session's colours: test_screens.py runs it";
  win::Form::SetEndWhenNoneLoaded(false);
  testsupport::TempDir folder;
  testsupport::AppFolderScope app(folder.path());
  ASSERT_TRUE(testsupport::WriteFileBytes(
      folder / L"cfg.xml",
      "<config><autorun>0</autorun><closetotray>0</closetotray><shortlnk>0</shortlnk><ver>1.0.0</ver></config>"));
  frmProgramSet& d = frmProgramSet::Instance();
  d.Show();
  HWND h = d.hWnd();
  ASSERT_NE(h, nullptr);
  ASSERT_DOUBLE_EQ(d.Scale(), 1.0) << "run at 96 dpi";
  ASSERT_FALSE(d.Colours().system) << "the usual scheme to begin with";

  const int which[] = {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNTEXT};
  const COLORREF usual[] = {::GetSysColor(COLOR_WINDOW), ::GetSysColor(COLOR_WINDOWTEXT),
                            ::GetSysColor(COLOR_BTNTEXT)};
  // Yellow on black, the button text white: unreadable on the skin's white.
  const COLORREF dark[] = {RGB(0, 0, 0), RGB(255, 255, 0), RGB(255, 255, 255)};
  struct Restore {
    const int* which;
    const COLORREF* usual;
    ~Restore() { ::SetSysColors(3, which, usual); }
  } restore{which, usual};

  const RECT ok = Box(d.El(d.FindElement(u"Label1")).box);
  const RECT title = Box(d.El(d.FindElement(u"lblTitle")).box);
  // A box without the focus (the focused one has its dotted rectangle).
  RECT box;
  ::GetWindowRect(d.Check1(3), &box);
  ::MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&box), 2);
  box.left += 20;  // the caption, right of the square
  const int okArea = (ok.right - ok.left) * (ok.bottom - ok.top);

  // SetSysColors tells every window (WM_SYSCOLORCHANGE).
  ASSERT_TRUE(::SetSysColors(3, which, dark));
  win::DoEvents();
  EXPECT_TRUE(d.Colours().system);
  {
    Capture c(h);
    EXPECT_EQ(c.At(230, 100), 0x000000u) << "the bare surface";
    // OK's caption: yellow on a black box over the button's picture.
    EXPECT_GT(c.Count(ok, 0xFFFF00), 15);
    EXPECT_EQ(c.Count(ok, 0xFFFF00) + c.Count(ok, 0x000000), okArea);
    EXPECT_GT(c.Count(title, 0xFFFF00), 15);
    // The check box's caption on black.
    EXPECT_GT(c.Count(box, 0xFFFF00), 15);
    EXPECT_GT(c.Count(box, 0x000000), (box.right - box.left) * (box.bottom - box.top) / 2);
    EXPECT_EQ(c.Count(box, 0xFFFFFF), 0);
  }

  ASSERT_TRUE(::SetSysColors(3, which, usual));
  win::DoEvents();
  EXPECT_FALSE(d.Colours().system);
  {
    Capture c(h);
    EXPECT_EQ(c.At(230, 100), 0xFFFFFFu);
    // Dark captions again, transparent on the skin.
    EXPECT_EQ(c.Count(ok, 0xFFFF00), 0);
    EXPECT_LT(c.Count(ok, 0x000000), okArea / 2);
    EXPECT_GT(c.Count(box, 0x000000), 15);
    EXPECT_GT(c.Count(box, 0xFFFFFF), (box.right - box.left) * (box.bottom - box.top) / 2);
  }
  d.Unload();
  win::Form::SetEndWhenNoneLoaded(true);
}

}  // namespace
