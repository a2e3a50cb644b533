// The skinned-window layer under Wine: painting in the form's order, mouse
// routing with capture, tooltips of the topmost element, the controls an
// accessibility client sees.
#include "client/mainwindow/skinform.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "common/win/msgloop.h"
#include "common/win/owners.h"

namespace {

using skin::MouseArgs;

skin::Picture Solid(int w, int h, uint32_t argb) {
  std::vector<uint32_t> px(static_cast<size_t>(w * h), argb);
  return skin::Picture::FromPixels(w, h, px.data());
}

struct Event {
  char kind;  // m d u c
  int target;
  int button;
  bool operator==(const Event&) const = default;
};

class TestSkin : public skin::SkinForm {
 public:
  skin::Picture red = Solid(20, 20, 0xFFFF0000);
  skin::Picture blue = Solid(40, 40, 0xFF0000FF);
  skin::Picture strip = Solid(2, 5, 0xFF00FF00);
  int a = -1, b = -1, stripId = -1, label = -1, line = -1;
  int hot = -1;  // the control that shows its hover picture
  std::vector<Event> events;

  using SkinForm::MoveElement;
  using SkinForm::SetElementVisible;

 protected:
  void DescribeWindow(win::FormWindowSpec& desc) override {
    DescribeSkinWindow(desc, 200, 120, L"skin test");
    desc.left = 30;
    desc.top = 40;
  }
  void Form_CreateControls() override {
    line = AddLine(u"Line1", -1, RGB(9, 123, 183));
    a = AddImage(u"imgA", 0, &red, false, u"A tip");
    label = AddLabel(u"lblTitle", -1, u"Velmora音乐盒", skin::FontSpec{L"宋体", 12}, RGB(255, 255, 255));
    b = AddImage(u"imgB", 0, &blue, false, u"B tip");
    stripId = AddImage(u"imgTop", -1, &strip, true);
    MoveElement(a, 10, 10);
    MoveElement(label, 60, 2);
    SizeElement(stripId, 200, 35);
    MoveElement(stripId, 0, 60);
    SetLine(line, 0, 119 - 0.5, 200, 119 - 0.5);
  }
  void Skin_MouseMove(int t, const MouseArgs& m) override { events.push_back({'m', t, m.button}); }
  void Skin_MouseDown(int t, const MouseArgs& m) override { events.push_back({'d', t, m.button}); }
  void Skin_MouseUp(int t, const MouseArgs& m) override { events.push_back({'u', t, m.button}); }
  void Skin_Click(int t) override { events.push_back({'c', t, 1}); }
  std::vector<skin::AccessibleControl> Skin_AccessibleControls() const override {
    return {{u"甲", {a}}, {u"乙", {b}}};
  }
  bool Skin_ControlHot(int c) const override { return c == hot; }
  void Skin_ControlClick(int c) override { events.push_back({'k', c, 0}); }
};

uint32_t PixelAt(HBITMAP bmp, int x, int y) {
  DIBSECTION ds{};
  ::GetObjectW(bmp, sizeof ds, &ds);
  auto* bits = static_cast<const uint32_t*>(ds.dsBm.bmBits);
  return bits[y * ds.dsBm.bmWidth + x] & 0xFFFFFF;
}

class SkinFormTest : public ::testing::Test {
 protected:
  void SetUp() override { win::Form::SetEndWhenNoneLoaded(false); }
  void TearDown() override {
    f.Unload();
    win::Form::SetEndWhenNoneLoaded(true);
  }
  LRESULT Mouse(UINT msg, int x, int y, WPARAM keys = 0) {
    return ::SendMessageW(f.hWnd(), msg, keys, MAKELPARAM(x, y));
  }
  TestSkin f;
};

TEST_F(SkinFormTest, PaintsInTheFormsOrderAndLeavesHiddenElementsOut) {
  f.Show();
  auto shot = f.Snapshot();
  ASSERT_TRUE(shot);
  EXPECT_EQ(PixelAt(shot.get(), 15, 15), 0xFF0000u);   // A lies over B
  EXPECT_EQ(PixelAt(shot.get(), 35, 35), 0x0000FFu);   // B around it
  EXPECT_EQ(PixelAt(shot.get(), 100, 80), 0x00FF00u);  // the strip stretched to 200 x 35
  EXPECT_EQ(PixelAt(shot.get(), 199, 94), 0x00FF00u);
  EXPECT_EQ(PixelAt(shot.get(), 100, 96), 0xFFFFFFu);  // white background below it
  EXPECT_EQ(PixelAt(shot.get(), 50, 119), 0x097BB7u);  // the line at 118.5 is the last row
  EXPECT_EQ(PixelAt(shot.get(), 50, 118), 0xFFFFFFu);
  f.SetElementVisible(f.a, false);
  shot = f.Snapshot();
  EXPECT_EQ(PixelAt(shot.get(), 15, 15), 0x0000FFu);
}

TEST_F(SkinFormTest, TheTitleLabelIsSizedToItsTextAndDrawnWhiteAndTransparent) {
  f.Show();
  const skin::Element& l = f.El(f.label);
  EXPECT_GT(l.box.width, 60);
  EXPECT_GE(l.box.height, 14);
  EXPECT_LE(l.box.height, 20);
  // Over the green strip: white strokes, green between them.
  f.MoveElement(f.label, 10, 62);
  auto shot = f.Snapshot();
  int white = 0, green = 0, other = 0;
  for (int y = 62; y < 62 + static_cast<int>(l.box.height); ++y) {
    for (int x = 10; x < 10 + static_cast<int>(l.box.width); ++x) {
      uint32_t c = PixelAt(shot.get(), x, y);
      if (c == 0xFFFFFFu) ++white;
      else if (c == 0x00FF00u) ++green;
      else ++other;
    }
  }
  EXPECT_GT(white, 40);
  EXPECT_GT(green, white);
}

TEST_F(SkinFormTest, APressCapturesTheMouseForItsElementUntilRelease) {
  f.Show();
  Mouse(WM_MOUSEMOVE, 15, 15);
  Mouse(WM_LBUTTONDOWN, 15, 15, MK_LBUTTON);
  EXPECT_EQ(::GetCapture(), f.hWnd());
  Mouse(WM_MOUSEMOVE, 150, 100, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 150, 100);
  EXPECT_NE(::GetCapture(), f.hWnd());
  Mouse(WM_MOUSEMOVE, 150, 100);
  EXPECT_EQ(f.events, (std::vector<Event>{{'m', f.a, 0}, {'d', f.a, 1}, {'m', f.a, 1}, {'u', f.a, 1},
                                          {'m', skin::kSurface, 0}}));
}

TEST_F(SkinFormTest, ClicksComeFromLeftReleasesOverThePressedElement) {
  f.Show();
  Mouse(WM_LBUTTONDOWN, 30, 30, MK_LBUTTON);
  Mouse(WM_LBUTTONUP, 31, 31);
  Mouse(WM_RBUTTONDOWN, 30, 30, MK_RBUTTON);
  Mouse(WM_RBUTTONUP, 30, 30);
  Mouse(WM_MBUTTONDOWN, 150, 50, MK_MBUTTON);
  Mouse(WM_MBUTTONUP, 30, 30);
  EXPECT_EQ(f.events, (std::vector<Event>{{'d', f.b, 1},
                                          {'u', f.b, 1},
                                          {'c', f.b, 1},
                                          {'d', f.b, 2},
                                          {'u', f.b, 2},
                                          {'d', skin::kSurface, 4},
                                          {'u', skin::kSurface, 4}}));
}

TEST_F(SkinFormTest, DragWindowIgnoresButtonsOtherThanTheLeftOne) {
  f.Show();
  RECT before, after;
  ::GetWindowRect(f.hWnd(), &before);
  Mouse(WM_RBUTTONDOWN, 100, 70, MK_RBUTTON);
  f.DragWindow(2);
  f.DragWindow(4);
  EXPECT_EQ(::GetCapture(), f.hWnd()) << "a right-button drag released the capture";
  Mouse(WM_RBUTTONUP, 100, 70);
  ::GetWindowRect(f.hWnd(), &after);
  EXPECT_EQ(before.left, after.left);
  EXPECT_EQ(before.top, after.top);
}

TEST_F(SkinFormTest, TooltipsFollowVisibilityAndOnlyTheTopmostElementSpeaks) {
  f.Show();
  Mouse(WM_MOUSEMOVE, 150, 100);  // brings the tools up to date
  HWND tip = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND h, LPARAM out) -> BOOL {
        wchar_t cls[64];
        ::GetClassNameW(h, cls, 64);
        if (std::wstring(cls) == TOOLTIPS_CLASSW) *reinterpret_cast<HWND*>(out) = h;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&tip));
  ASSERT_NE(tip, nullptr);
  EXPECT_EQ(::SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 2);

  auto textAt = [&](int id, int x, int y) {
    POINT p{x, y};
    ::ClientToScreen(f.hWnd(), &p);
    ::SetCursorPos(p.x, p.y);
    NMTTDISPINFOW di{};
    di.hdr.hwndFrom = tip;
    di.hdr.idFrom = static_cast<UINT_PTR>(id) + 1;
    di.hdr.code = TTN_GETDISPINFOW;
    ::SendMessageW(f.hWnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&di));
    return std::wstring(di.lpszText ? di.lpszText : L"");
  };
  EXPECT_EQ(textAt(f.a, 15, 15), L"A tip");
  EXPECT_EQ(textAt(f.b, 15, 15), L"");  // B lies under A there
  EXPECT_EQ(textAt(f.b, 35, 35), L"B tip");

  f.SetElementVisible(f.a, false);
  Mouse(WM_MOUSEMOVE, 150, 100);
  EXPECT_EQ(::SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
  EXPECT_EQ(textAt(f.b, 15, 15), L"B tip");
}

VARIANT Child(long id) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

// The controls are children 1 and 2 of the window's client object; the
// window itself (its name, the bare surface) is the system's part; a
// control's click comes after the client's call has returned; the object
// answers nothing once its window is gone.
TEST_F(SkinFormTest, AnAccessibilityClientSeesTheControlsUntilTheWindowGoes) {
  win::ComScope com;
  f.Show();
  HWND h = f.hWnd();
  win::ComPtr<IAccessible> acc;
  ASSERT_EQ(::AccessibleObjectFromWindow(h, OBJID_CLIENT, __uuidof(IAccessible), acc.put_void()), S_OK);
  long count = 0;
  EXPECT_EQ(acc->get_accChildCount(&count), S_OK);
  EXPECT_EQ(count, 2);
  win::Bstr name;
  EXPECT_EQ(acc->get_accName(Child(2), name.put()), S_OK);
  EXPECT_EQ(name.str(), L"乙");
  EXPECT_EQ(acc->get_accName(Child(CHILDID_SELF), name.put()), S_OK);
  EXPECT_EQ(name.str(), L"skin test");

  auto hit = [&](int x, int y) {
    POINT p{x, y};
    ::ClientToScreen(h, &p);
    VARIANT v;
    ::VariantInit(&v);
    return acc->accHitTest(p.x, p.y, &v) == S_OK && v.vt == VT_I4 ? v.lVal : -1;
  };
  EXPECT_EQ(hit(15, 15), 1);  // A lies over B
  EXPECT_EQ(hit(35, 35), 2);
  EXPECT_EQ(hit(150, 100), CHILDID_SELF);
  f.SetElementVisible(f.a, false);
  EXPECT_EQ(hit(15, 15), 2);
  long l = 0, t = 0, w = 0, hh = 0;
  EXPECT_EQ(acc->accLocation(&l, &t, &w, &hh, Child(1)), S_FALSE) << "hidden: nowhere";
  f.SetElementVisible(f.a, true);

  f.hot = 1;
  VARIANT state;
  acc->get_accState(Child(2), &state);
  EXPECT_EQ(state.lVal & STATE_SYSTEM_HOTTRACKED, STATE_SYSTEM_HOTTRACKED);
  acc->get_accState(Child(1), &state);
  EXPECT_EQ(state.lVal & STATE_SYSTEM_HOTTRACKED, 0);
  ::EnableWindow(h, FALSE);
  acc->get_accState(Child(1), &state);
  EXPECT_EQ(state.lVal & STATE_SYSTEM_UNAVAILABLE, STATE_SYSTEM_UNAVAILABLE);
  EXPECT_EQ(acc->accDoDefaultAction(Child(1)), E_FAIL) << "a disabled window takes no click";
  ::EnableWindow(h, TRUE);

  VARIANT next;
  EXPECT_EQ(acc->accNavigate(NAVDIR_NEXT, Child(1), &next), S_OK);
  EXPECT_EQ(next.lVal, 2);
  EXPECT_EQ(acc->accNavigate(NAVDIR_NEXT, Child(2), &next), S_FALSE);
  EXPECT_EQ(acc->accNavigate(NAVDIR_FIRSTCHILD, Child(CHILDID_SELF), &next), S_OK);
  EXPECT_EQ(next.lVal, 1);

  auto clicks = [&] {
    std::vector<Event> k;
    for (const Event& e : f.events)
      if (e.kind == 'k') k.push_back(e);
    return k;
  };
  f.events.clear();
  EXPECT_EQ(acc->accDoDefaultAction(Child(1)), S_OK);
  EXPECT_TRUE(clicks().empty());
  win::DoEvents();
  EXPECT_EQ(clicks(), (std::vector<Event>{{'k', 0, 0}}));

  f.Unload();
  EXPECT_EQ(acc->get_accName(Child(1), name.put()), RPC_E_DISCONNECTED);
  EXPECT_EQ(acc->accDoDefaultAction(Child(1)), RPC_E_DISCONNECTED);
}

TEST_F(SkinFormTest, ElementsAreBuiltAnewAtEachLoad) {
  f.Show();
  f.SetElementVisible(f.a, false);
  int count = f.scene().size();
  f.Unload();
  EXPECT_EQ(f.scene().size(), 0);
  f.Show();
  EXPECT_EQ(f.scene().size(), count);
  EXPECT_TRUE(f.El(f.a).visible);
}

}  // namespace
