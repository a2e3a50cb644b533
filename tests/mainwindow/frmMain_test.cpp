// The main window in the test process: layout and chrome as painted, the
// caption buttons' hover pictures, minimise, and the one close path of the
// close button and Alt+F4.
#include "client/mainwindow/frmMain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "client/settings/frmProgramSet.h"
#include "client/startup/modChkOptState.h"
#include "client/tray/frmMenu.h"
#include "client/tray/modTray.h"
#include "common/product.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"
#include "tests/mainwindow/clientforms.h"
#include "tests/support/testsupport.h"

namespace {

// Messages the window got through a subclass in front of its procedure.
struct Spy {
  static inline WNDPROC previous = nullptr;
  static inline std::vector<std::pair<UINT, WPARAM>> seen;
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_SYSCOMMAND || m == WM_NCLBUTTONDOWN) seen.push_back({m, w});
    // No move loop in a test: the drag request is only recorded.
    if (m == WM_NCLBUTTONDOWN) return 0;
    return ::CallWindowProcW(previous, h, m, w, l);
  }
  static void Install(HWND h) {
    seen.clear();
    previous = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
  }
  static int Count(UINT m, WPARAM w) {
    return static_cast<int>(std::count(seen.begin(), seen.end(), std::pair<UINT, WPARAM>{m, w}));
  }
};

uint32_t PixelAt(HBITMAP bmp, int x, int y) {
  DIBSECTION ds{};
  ::GetObjectW(bmp, sizeof ds, &ds);
  return static_cast<const uint32_t*>(ds.dsBm.bmBits)[y * ds.dsBm.bmWidth + x] & 0xFFFFFF;
}
int R(uint32_t c) { return (c >> 16) & 0xFF; }
int G(uint32_t c) { return (c >> 8) & 0xFF; }
int B(uint32_t c) { return c & 0xFF; }

class FrmMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::Form::SetEndWhenNoneLoaded(false);
    // The close command ends the client here; the settings dialog it loads
    // on the way out enforces nothing on the system.
    ASSERT_TRUE(testsupport::WriteFileBytes(
        folder / L"cfg.xml",
        "<config><autorun></autorun><shortlnk></shortlnk><closetotray>0</closetotray><ver>1.0.0</ver></config>"));
    modChkOptState::bCloseToTray = false;
    f.Show();
    ASSERT_TRUE(f.IsLoaded());
    ASSERT_TRUE(win::WaitWithMessages(10000, [&] { return f.bActivated && f.WebBrowser1.IsCreated(); }));
    h = f.hWnd();
  }
  void TearDown() override {
    testsupport::UnloadClientForms();
    win::Form::SetEndWhenNoneLoaded(true);
    modChkOptState::bCloseToTray = closeToTrayBefore;
  }
  LRESULT Mouse(UINT msg, int x, int y, WPARAM keys = 0) { return ::SendMessageW(h, msg, keys, MAKELPARAM(x, y)); }
  bool Visible(int id) const { return f.El(id).visible; }

  win::OleScope ole;
  const bool closeToTrayBefore = modChkOptState::bCloseToTray;
  testsupport::TempDir folder;
  testsupport::AppFolderScope app{folder.path()};
  frmMain& f = frmMain::Instance();
  HWND h = nullptr;
};

TEST_F(FrmMainTest, LaidOutCentredWithItsChromeFrameAndBrowser) {
  RECT rc;
  ::GetWindowRect(h, &rc);
  // The harness's screen is 1280 x 1024 at 96 dpi.
  EXPECT_EQ(rc.left, 140);
  EXPECT_EQ(rc.top, 157);
  EXPECT_EQ(rc.right - rc.left, 1000);
  EXPECT_EQ(rc.bottom - rc.top, 710);
  RECT client;
  ::GetClientRect(h, &client);
  EXPECT_EQ(client.right, 1000);
  EXPECT_EQ(client.bottom, 710);

  const auto& id = f.ids();
  EXPECT_DOUBLE_EQ(f.El(id.imgClose[0]).box.left, 962);
  EXPECT_DOUBLE_EQ(f.El(id.imgClose[1]).box.left, 962);
  EXPECT_DOUBLE_EQ(f.El(id.imgMin[0]).box.left, 924);
  EXPECT_DOUBLE_EQ(f.El(id.imgClose[0]).box.width, 36);
  EXPECT_DOUBLE_EQ(f.El(id.imgClose[0]).box.height, 20);
  EXPECT_DOUBLE_EQ(f.El(id.lblTitle).box.left, 45);
  EXPECT_DOUBLE_EQ(f.El(id.lblTitle).box.top, (35 - f.El(id.lblTitle).box.height) / 2);
  EXPECT_EQ(f.El(id.lblTitle).text, u"Velmora音乐盒");
  EXPECT_DOUBLE_EQ(f.El(id.Line4).y1, 708.5);
  EXPECT_TRUE(Visible(id.imgClose[0]));
  EXPECT_FALSE(Visible(id.imgClose[1]));
  EXPECT_TRUE(Visible(id.imgMin[0]));
  EXPECT_FALSE(Visible(id.imgMin[1]));
  EXPECT_EQ(f.El(id.imgClose[0]).tooltip, u"关闭");
  EXPECT_EQ(f.El(id.imgMin[1]).tooltip, u"最小化");

  // picFrame: top 35, left 2, 997 x 673; the browser inside it.
  ASSERT_NE(f.picFrame(), nullptr);
  RECT fr;
  ::GetWindowRect(f.picFrame(), &fr);
  ::MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&fr), 2);
  EXPECT_EQ(fr.left, 2);
  EXPECT_EQ(fr.top, 35);
  EXPECT_EQ(fr.right - fr.left, 997);
  EXPECT_EQ(fr.bottom - fr.top, 673);
  EXPECT_TRUE(f.WebBrowser1.IsCreated());
  // The notice's browser exists only during its wait, over by now.
  EXPECT_FALSE(f.WebBrowser2.IsCreated());
  EXPECT_NE(f.imgTray(), nullptr);
  EXPECT_NE(::SendMessageW(h, WM_GETICON, ICON_BIG, 0), 0);
  wchar_t title[128] = {};
  ::GetWindowTextW(h, title, 128);
  EXPECT_STREQ(title, L"Velmora音乐网 - 给你最好的音乐");

  EXPECT_EQ(f.m_strOpenNet, win::W(product::MusicHome()));
  EXPECT_TRUE(f.Timer1.Enabled());
  EXPECT_TRUE(f.WebBrowser1.Silent());
}

TEST_F(FrmMainTest, PaintedChrome) {
  auto shot = f.Snapshot();
  ASSERT_TRUE(shot);
  for (auto [x, y] : {std::pair{0, 400}, {999, 400}, {500, 709}, {500, 0}, {0, 20}, {999, 700}})
    EXPECT_EQ(PixelAt(shot.get(), x, y), 0x097BB7u) << x << "," << y;
  EXPECT_EQ(PixelAt(shot.get(), 1, 400), 0xFFFFFFu);
  EXPECT_EQ(PixelAt(shot.get(), 500, 708), 0xFFFFFFu);
  // The strip: blue, lighter at the top than at the bottom.
  uint32_t top = PixelAt(shot.get(), 600, 2), bottom = PixelAt(shot.get(), 600, 33);
  EXPECT_GT(B(top), R(top) + 80);
  EXPECT_GT(B(bottom), R(bottom) + 80);
  EXPECT_GT(R(top) + G(top), R(bottom) + G(bottom));
  // Close: red with a white cross; minimise: blue with a white bar.
  uint32_t close = PixelAt(shot.get(), 965, 5), cross = PixelAt(shot.get(), 980, 12);
  EXPECT_GT(R(close), 180);
  EXPECT_LT(G(close), 90);
  EXPECT_GT(G(cross), 200);
  EXPECT_GT(B(cross), 200);
  uint32_t min = PixelAt(shot.get(), 927, 5), bar = PixelAt(shot.get(), 942, 15);
  EXPECT_GT(B(min), R(min) + 100);
  EXPECT_EQ(bar, 0xFFFFFFu);
  // White title text on the strip.
  const skin::Element& t = f.El(f.ids().lblTitle);
  int white = 0;
  for (int y = static_cast<int>(t.box.top); y < static_cast<int>(t.box.top + t.box.height); ++y)
    for (int x = 45; x < 45 + static_cast<int>(t.box.width); ++x)
      if (PixelAt(shot.get(), x, y) == 0xFFFFFFu) ++white;
  EXPECT_GT(white, 60);
}

TEST_F(FrmMainTest, HoverFromCloseStraightOntoMinimiseAndBackOverTheStrip) {
  const auto& id = f.ids();
  Mouse(WM_MOUSEMOVE, 500, 10);
  EXPECT_FALSE(f.bSysBtnHover());
  Mouse(WM_MOUSEMOVE, 970, 10);  // onto close
  EXPECT_TRUE(f.bSysBtnHover());
  EXPECT_TRUE(Visible(id.imgClose[1]));
  EXPECT_FALSE(Visible(id.imgClose[0]));
  EXPECT_EQ(f.MousePointer(), 99);
  // The hand is a cursor made from imgMousePoint, pointing with its fingertip.
  ICONINFO ii{};
  ASSERT_TRUE(::GetIconInfo(f.MouseIcon(), &ii));
  EXPECT_FALSE(ii.fIcon);
  EXPECT_EQ(ii.xHotspot, 9u);
  EXPECT_EQ(ii.yHotspot, 1u);
  if (ii.hbmColor) ::DeleteObject(ii.hbmColor);
  if (ii.hbmMask) ::DeleteObject(ii.hbmMask);
  Mouse(WM_MOUSEMOVE, 959, 10);  // straight across the gap onto minimise (its last column)
  EXPECT_TRUE(Visible(id.imgClose[1])) << "close stays in its hover picture";
  EXPECT_FALSE(Visible(id.imgMin[1])) << "minimise stays normal";
  EXPECT_TRUE(Visible(id.imgMin[0]));
  Mouse(WM_MOUSEMOVE, 120, 200);  // down into the browser area: nothing
  EXPECT_TRUE(f.bSysBtnHover());
  Mouse(WM_MOUSEMOVE, 60, 12);  // over the title text: not the strip
  EXPECT_TRUE(f.bSysBtnHover());
  Mouse(WM_MOUSEMOVE, 500, 30);  // the strip
  EXPECT_FALSE(f.bSysBtnHover());
  EXPECT_TRUE(Visible(id.imgClose[0]));
  EXPECT_FALSE(Visible(id.imgClose[1]));
  EXPECT_TRUE(Visible(id.imgMin[0]));
  EXPECT_FALSE(Visible(id.imgMin[1]));
  EXPECT_EQ(f.MousePointer(), 0);
  Mouse(WM_MOUSEMOVE, 930, 10);
  EXPECT_TRUE(Visible(id.imgMin[1]));
  EXPECT_FALSE(Visible(id.imgClose[1]));
  Mouse(WM_MOUSEMOVE, 500, 30);
}

TEST_F(FrmMainTest, OnlyTheLeftButtonOnStripIconOrTitleDragsAndCaptionButtonsNever) {
  Spy::Install(h);
  Mouse(WM_RBUTTONDOWN, 500, 10, MK_RBUTTON);
  Mouse(WM_RBUTTONUP, 500, 10);
  Mouse(WM_MBUTTONDOWN, 15, 15, MK_MBUTTON);
  Mouse(WM_MBUTTONUP, 15, 15);
  EXPECT_EQ(Spy::Count(WM_NCLBUTTONDOWN, HTCAPTION), 0);
  Mouse(WM_LBUTTONDOWN, 970, 10, MK_LBUTTON);  // close, released elsewhere: no click
  Mouse(WM_LBUTTONUP, 500, 200);
  Mouse(WM_LBUTTONDOWN, 930, 10, MK_LBUTTON);  // minimise, likewise
  Mouse(WM_LBUTTONUP, 500, 200);
  EXPECT_EQ(Spy::Count(WM_NCLBUTTONDOWN, HTCAPTION), 0);
  EXPECT_FALSE(::IsIconic(h));
  EXPECT_TRUE(f.IsLoaded());
  for (auto [x, y] : {std::pair{500, 10}, {15, 15}, {60, 12}}) {
    Mouse(WM_LBUTTONDOWN, x, y, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, x, y);
  }
  EXPECT_EQ(Spy::Count(WM_NCLBUTTONDOWN, HTCAPTION), 3);
}

TEST_F(FrmMainTest, MinimiseButtonMinimisesAndTheStateRestores) {
  Mouse(WM_LBUTTONDOWN, 930, 10, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 930, 10);
  EXPECT_TRUE(::IsIconic(h));
  EXPECT_EQ(f.WindowState(), 1);
  f.SetWindowState(0);
  EXPECT_FALSE(::IsIconic(h));
  EXPECT_TRUE(f.Visible());
}

TEST_F(FrmMainTest, CloseButtonAndAltF4TakeTheSystemClosePath) {
  Spy::Install(h);
  Mouse(WM_LBUTTONDOWN, 970, 10, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 970, 10);
  EXPECT_EQ(Spy::Count(WM_SYSCOMMAND, SC_CLOSE), 1);
  EXPECT_FALSE(f.IsLoaded());

  f.Show();
  h = f.hWnd();
  Spy::Install(h);
  ::SetFocus(h);
  ::PostMessageW(h, WM_SYSKEYDOWN, VK_F4, 0x20000001);  // Alt held
  win::WaitWithMessages(20000, [&] { return !f.IsLoaded(); });
  EXPECT_EQ(Spy::Count(WM_SYSCOMMAND, SC_CLOSE), 1);
  EXPECT_FALSE(f.IsLoaded());
}

// The first activation's work does not depend on the activation: a window
// shown without it (the show does not activate, another window keeps the
// foreground) or one that loses it before the work would run still does the
// work once, right after its first show; later activations add nothing.
TEST(FrmMainFirstActivation, RunsOnceWhenTheShowDoesNotLeaveTheWindowActive) {
  win::Form::SetEndWhenNoneLoaded(false);
  win::OleScope ole;
  testsupport::TempDir folder;
  testsupport::AppFolderScope app{folder.path()};
  ASSERT_TRUE(testsupport::WriteFileBytes(
      folder / L"cfg.xml",
      "<config><autorun></autorun><shortlnk></shortlnk><closetotray>0</closetotray><ver>1.0.0</ver></config>"));
  win::UniqueWindow other(::CreateWindowExW(0, L"STATIC", L"foreground", WS_POPUP | WS_VISIBLE, 0, 0, 40, 40,
                                            nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(other);
  frmMain& f = frmMain::Instance();
  for (const bool showActivates : {false, true}) {
    SCOPED_TRACE(showActivates ? "activated by the show, then not" : "shown without activation");
    f.bActivated = false;
    f.m_strOpenNet.clear();
    ::SetForegroundWindow(other.get());
    ::SetActiveWindow(other.get());
    HWND h = f.hWnd();
    ASSERT_NE(h, nullptr);
    if (showActivates) {
      ::ShowWindow(h, SW_SHOW);
      ::SetActiveWindow(other.get());  // before the activation's own message is handled
    } else {
      ::ShowWindow(h, SW_SHOWNA);
    }
    ASSERT_TRUE(win::WaitWithMessages(10000, [&] { return f.bActivated && f.WebBrowser1.IsCreated(); }));
    EXPECT_NE(::GetActiveWindow(), h);
    EXPECT_EQ(f.m_strOpenNet, win::W(product::MusicHome()));
    EXPECT_TRUE(f.WebBrowser1.IsCreated());
    RECT rc;
    ::GetWindowRect(h, &rc);
    EXPECT_EQ(rc.right - rc.left, 1000);

    // A later activation does not run the work again (it would set the
    // address anew).
    f.m_strOpenNet = L"unchanged";
    ::SetForegroundWindow(h);
    ::SetActiveWindow(h);
    win::WaitWithMessages(1000);
    EXPECT_EQ(::GetActiveWindow(), h);
    EXPECT_EQ(f.m_strOpenNet, L"unchanged");

    testsupport::UnloadClientForms();
  }
  win::Form::SetEndWhenNoneLoaded(true);
}

}  // namespace
