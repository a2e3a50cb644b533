// The settings dialog under Wine: its boxes show cfg.xml, OK writes the
// changed keys and makes the system follow them, Cancel and the close
// button write nothing; the chrome and the button pictures on screen; the
// modal show with its keyboard.
#include "client/settings/frmProgramSet.h"

#include <windows.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "artwork/resource.h"
#include "client/startup/modChkOptState.h"
#include "client/startup/modOpertXml.h"
#include "client/tray/frmMenu.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#include "tests/integration/entrystate.h"

namespace {

using entrystate::GetRun;
using entrystate::Sz;
using modChkOptState::bCloseToTray;
using settings::ButtonPicture;

const std::wstring kLinkName = L"Velmora音乐盒.lnk";

// Points of the dialog (client pixels).
constexpr POINT kOk{70, 228};       // lbl_RespondCmd(0) over img_ShowFrame(0)
constexpr POINT kCancel{198, 228};  // lbl_RespondCmd(1)
constexpr POINT kSurface{230, 100};
constexpr POINT kStrip{150, 20};
constexpr POINT kClose{255, 10};
constexpr POINT kIcon{15, 15};

std::string Cfg(const char* autorun, const char* closetotray, const char* shortlnk) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<config><autorun>") + autorun +
         "</autorun><closetotray>" + closetotray + "</closetotray><shortlnk>" + shortlnk +
         "</shortlnk><ver>1.0.0</ver></config>";
}

FILETIME WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

bool SameTime(FILETIME a, FILETIME b) { return ::CompareFileTime(&a, &b) == 0; }

// 0xRRGGBB of a 32-bit top-down DIB section (snapshots and pictures are).
uint32_t PixelAt(HBITMAP bmp, int x, int y) {
  DIBSECTION ds{};
  ::GetObjectW(bmp, sizeof ds, &ds);
  auto* bits = static_cast<const uint32_t*>(ds.dsBm.bmBits);
  return bits[y * ds.dsBm.bmWidth + x] & 0xFFFFFF;
}

uint32_t Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// Pixels of `shot` in the rectangle at (x, y) that differ from `picture`,
// leaving out the rectangle `skip`.
int Mismatches(HBITMAP shot, int x, int y, const skin::Picture& picture, RECT skip = {}) {
  int bad = 0;
  for (int py = 0; py < picture.height(); ++py) {
    for (int px = 0; px < picture.width(); ++px) {
      POINT p{x + px, y + py};
      if (::PtInRect(&skip, p)) continue;
      if (PixelAt(shot, p.x, p.y) != PixelAt(picture.bitmap(), px, py)) ++bad;
    }
  }
  return bad;
}

// Runs steps, one per timer tick, inside whatever message loop is running
// (the modal one): a step runs after the messages the previous one posted
// were handled. Past the last step it closes the dialog, so a test that
// fails cannot hang in the modal loop.
class Steps {
 public:
  explicit Steps(std::vector<std::function<void()>> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = ::SetTimer(nullptr, 0, 20, &Steps::Tick);
  }
  ~Steps() {
    ::KillTimer(nullptr, timer_);
    current_ = nullptr;
  }
  size_t done() const { return next_; }
  bool overran() const { return overran_; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    Steps* s = current_;
    if (!s || s->running_) return;  // a step that waits handles messages too
    if (s->next_ < s->steps_.size()) {
      auto step = s->steps_[s->next_++];
      s->running_ = true;
      step();
      s->running_ = false;
    } else if (frmProgramSet::Instance().IsLoaded()) {
      s->overran_ = true;
      frmProgramSet::Instance().Unload();
    }
  }
  static inline Steps* current_ = nullptr;
  std::vector<std::function<void()>> steps_;
  size_t next_ = 0;
  bool overran_ = false;
  bool running_ = false;
  UINT_PTR timer_ = 0;
};

// A window of the client that the modal dialog must lock.
class OtherForm : public win::Form {
 protected:
  void DescribeWindow(win::FormWindowSpec& s) override {
    s.title = L"other";
    s.style = WS_POPUP;
    s.left = 10;
    s.top = 10;
    s.width = 100;
    s.height = 80;
  }
};

class SettingsDialog : public ::testing::Test {
 protected:
  win::ComScope com;
  entrystate::RunValueAside runAside;
  entrystate::DesktopAside desktop;
  entrystate::ClientFolder client;
  entrystate::CountingWriter writer;
  const bool closeToTrayBefore = bCloseToTray;
  frmProgramSet& dlg = frmProgramSet::Instance();
  const std::wstring cfg = client.path() + L"\\cfg.xml";
  const std::wstring link = desktop / kLinkName;

  void SetUp() override {
    win::Form::SetEndWhenNoneLoaded(false);
    ASSERT_TRUE(desktop.TitledEntries().empty());
  }
  void TearDown() override {
    dlg.Unload();
    bCloseToTray = closeToTrayBefore;
    win::Form::SetEndWhenNoneLoaded(true);
    MSG m;
    ::PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }

  void Put(const std::string& content) { ASSERT_TRUE(testsupport::WriteFileBytes(cfg, content)); }
  std::string Bytes() { return testsupport::ReadFileBytes(cfg); }
  bool LinkThere() { return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::wstring Key(const wchar_t* key) { return modOpertXml::ReadConfigKey(key); }
  // autorun, closetotray, shortlnk
  std::vector<std::wstring> Keys() { return {Key(L"autorun"), Key(L"closetotray"), Key(L"shortlnk")}; }

  bool Checked(int index) { return ::SendMessageW(dlg.Check1(index), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void Toggle(int index) { ::SendMessageW(dlg.Check1(index), BM_CLICK, 0, 0); }
  void Mouse(UINT msg, POINT p, WPARAM keys = 0) {
    if (HWND h = dlg.hWndIfLoaded()) ::SendMessageW(h, msg, keys, MAKELPARAM(p.x, p.y));
  }
  void Press(POINT p, int button = 1) {
    Mouse(WM_MOUSEMOVE, p);
    Mouse(button == 1 ? WM_LBUTTONDOWN : button == 2 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN, p,
          button == 1 ? MK_LBUTTON : button == 2 ? MK_RBUTTON : MK_MBUTTON);
  }
  void Release(POINT p, int button = 1) {
    Mouse(button == 1 ? WM_LBUTTONUP : button == 2 ? WM_RBUTTONUP : WM_MBUTTONUP, p);
  }
  void ClickAt(POINT p, int button = 1) {
    Press(p, button);
    Release(p, button);
  }
  void Open() {
    dlg.Show();
    ASSERT_TRUE(dlg.IsLoaded());
  }
};

// --- loading and applying ---------------------------------------------------------

TEST_F(SettingsDialog, OkWithoutAChangeWritesNothingButStillEnforcesTheOptions) {
  Put(Cfg("1", "0", "1"));
  Open();
  EXPECT_TRUE(Checked(0));
  EXPECT_FALSE(Checked(1));
  EXPECT_TRUE(Checked(3));
  EXPECT_EQ(dlg.Tag(0), u"1");
  EXPECT_EQ(dlg.Tag(1), u"0");
  EXPECT_EQ(dlg.Tag(3), u"1");
  // The load enforced the options already.
  EXPECT_EQ(GetRun(HKEY_CURRENT_USER), Sz(client.Command()));
  ASSERT_TRUE(LinkThere());
  const std::string before = Bytes();
  const FILETIME time = WriteTime(cfg);

  ASSERT_TRUE(::DeleteFileW(link.c_str()));
  ::Sleep(20);
  ClickAt(kOk);
  EXPECT_FALSE(dlg.IsLoaded());
  EXPECT_EQ(Bytes(), before);
  EXPECT_TRUE(SameTime(WriteTime(cfg), time));
  EXPECT_TRUE(LinkThere()) << "OK runs the enforcement, which brings the shortcut back";
  EXPECT_EQ(writer.sets, 1);  // the one of the load
}

TEST_F(SettingsDialog, UncheckingTheShortcutThenOkWritesZeroAndRemovesIt) {
  Put(Cfg("0", "0", "1"));
  Open();
  ASSERT_TRUE(LinkThere());
  Toggle(3);
  EXPECT_FALSE(Checked(3));
  ClickAt(kOk);
  EXPECT_FALSE(dlg.IsLoaded());
  EXPECT_EQ(Keys(), (std::vector<std::wstring>{L"0", L"0", L"0"}));
  EXPECT_FALSE(LinkThere());
  EXPECT_EQ(writer.sets + writer.deletes, 0);
}

// Only a close message from outside ends the client (its tray form too).
TEST_F(SettingsDialog, CancelCloseButtonAltF4AndCloseMessageWriteNothing) {
  Put(Cfg("0", "0", "1"));
  const std::function<void()> closers[] = {
      [&] { ClickAt(kCancel); },
      [&] { ClickAt(kClose); },
      [&] { ::SendMessageW(dlg.hWndIfLoaded(), WM_SYSCOMMAND, SC_CLOSE, 0); },
      [&] { ::SendMessageW(dlg.hWndIfLoaded(), WM_CLOSE, 0, 0); },
  };
  int n = 0;
  for (const auto& close : closers) {
    frmMenu::Instance().Load();
    Open();
    ASSERT_TRUE(LinkThere());
    const std::string before = Bytes();
    const FILETIME time = WriteTime(cfg);
    Toggle(3);
    Toggle(0);
    Toggle(1);
    ::Sleep(20);
    close();
    EXPECT_FALSE(dlg.IsLoaded()) << n;
    EXPECT_EQ(Bytes(), before) << n;
    EXPECT_TRUE(SameTime(WriteTime(cfg), time)) << n;
    EXPECT_TRUE(LinkThere()) << n;
    EXPECT_FALSE(bCloseToTray) << n;
    EXPECT_FALSE(GetRun(HKEY_CURRENT_USER)) << n;
    EXPECT_EQ(frmMenu::Instance().IsLoaded(), n < 3) << n;
    frmMenu::Instance().Unload();
    ++n;
  }
}

TEST_F(SettingsDialog, ToggledTwiceIsNoChange) {
  Put(Cfg("0", "1", "0"));
  Open();
  const std::string before = Bytes();
  for (int i : {0, 1, 3}) {
    Toggle(i);
    Toggle(i);
  }
  ClickAt(kOk);
  EXPECT_EQ(Bytes(), before);
  EXPECT_FALSE(LinkThere());
  EXPECT_FALSE(GetRun(HKEY_CURRENT_USER));
}

TEST_F(SettingsDialog, AnEmptyStoredValueShowsUncheckedAndIsWrittenOnlyWhenChecked) {
  Put(Cfg("", "yes", "0"));
  Open();
  EXPECT_FALSE(Checked(0));
  EXPECT_EQ(dlg.Tag(0), u"");
  ClickAt(kOk);
  EXPECT_EQ(Bytes(), Cfg("", "yes", "0"));
  EXPECT_FALSE(GetRun(HKEY_CURRENT_USER));

  Open();  // loads anew
  EXPECT_FALSE(Checked(0));
  Toggle(0);
  ClickAt(kOk);
  // Only the changed key is written: the odd text beside it stays.
  EXPECT_EQ(Keys(), (std::vector<std::wstring>{L"1", L"yes", L"0"}));
  EXPECT_EQ(GetRun(HKEY_CURRENT_USER), Sz(client.Command())) << "the entry is there before the dialog closes";
  EXPECT_EQ(writer.sets, 1);
}

TEST_F(SettingsDialog, AnUnreadableFileShowsNothingAndStaysAsItIs) {
  const std::string broken = "<config><autorun>1</autorun><closetotray>1";
  Put(broken);
  Open();
  for (int i : {0, 1, 3}) {
    EXPECT_FALSE(Checked(i)) << i;
    EXPECT_EQ(dlg.Tag(i), u"") << i;
  }
  EXPECT_EQ(dlg.Check1(2), nullptr);
  Toggle(0);
  ClickAt(kOk);
  EXPECT_FALSE(dlg.IsLoaded());
  EXPECT_EQ(Bytes(), broken);
  EXPECT_FALSE(GetRun(HKEY_CURRENT_USER));
}

TEST_F(SettingsDialog, CloseToTrayTakesEffectAtOnce) {
  Put(Cfg("0", "0", "0"));
  bCloseToTray = false;
  Open();
  Toggle(1);
  ClickAt(kOk);
  EXPECT_TRUE(bCloseToTray);
  EXPECT_EQ(Key(L"closetotray"), L"1");

  Open();
  EXPECT_TRUE(Checked(1));
  Toggle(1);
  ClickAt(kOk);
  EXPECT_FALSE(bCloseToTray);
  EXPECT_EQ(Keys(), (std::vector<std::wstring>{L"0", L"0", L"0"}));
}

// --- the buttons and the mouse ------------------------------------------------------

TEST_F(SettingsDialog, TheReleaseCompletesTheButtonWhereverThePointerIs) {
  Put(Cfg("0", "0", "0"));
  Open();
  Toggle(1);
  Press(kOk);
  EXPECT_EQ(dlg.FramePicture(0), ButtonPicture::kPressed);
  EXPECT_EQ(::GetCapture(), dlg.hWndIfLoaded());
  Mouse(WM_MOUSEMOVE, kSurface, MK_LBUTTON);
  Mouse(WM_MOUSEMOVE, {-30, 400}, MK_LBUTTON);
  EXPECT_EQ(dlg.FramePicture(0), ButtonPicture::kPressed) << "the pressed picture stays while dragging";
  Release({-30, 400});
  EXPECT_FALSE(dlg.IsLoaded());
  EXPECT_EQ(Key(L"closetotray"), L"1");
  EXPECT_TRUE(bCloseToTray);

  // The right button does the same.
  Open();
  Toggle(3);
  Press(kOk, 2);
  EXPECT_EQ(dlg.FramePicture(0), ButtonPicture::kPressed);
  Mouse(WM_MOUSEMOVE, kCancel, MK_RBUTTON);
  Release(kCancel, 2);
  EXPECT_FALSE(dlg.IsLoaded());
  EXPECT_EQ(Key(L"shortlnk"), L"1");
  EXPECT_TRUE(LinkThere());

  // Cancel with the middle button, released over OK: closes, writes nothing.
  Open();
  const std::string before = Bytes();
  Toggle(0);
  Press(kCancel, 4);
  Release(kOk, 4);
  EXPECT_FALSE(dlg.IsLoaded());
  EXPECT_EQ(Bytes(), before);
}

TEST_F(SettingsDialog, AReleaseWithoutAPressOnTheButtonDoesNothing) {
  Put(Cfg("0", "0", "0"));
  Open();
  Toggle(1);
  // Pressed on the surface, released over OK.
  Press(kSurface);
  Mouse(WM_MOUSEMOVE, kOk, MK_LBUTTON);
  Release(kOk);
  // A release that arrives alone (its press went elsewhere).
  Mouse(WM_MOUSEMOVE, kOk);
  Release(kOk);
  Release(kCancel, 2);
  EXPECT_TRUE(dlg.IsLoaded());
  EXPECT_EQ(Key(L"closetotray"), L"0");
}

TEST_F(SettingsDialog, ButtonPicturesFollowHoverAndPress) {
  Put(Cfg("0", "0", "0"));
  Open();
  EXPECT_FALSE(dlg.bBtnHover());
  Mouse(WM_MOUSEMOVE, kOk);
  EXPECT_TRUE(dlg.bBtnHover());
  EXPECT_EQ(dlg.MousePointer(), win::Form::kCustomPointer);
  EXPECT_EQ(dlg.FramePicture(0), ButtonPicture::kHover);
  EXPECT_EQ(dlg.FramePicture(1), ButtonPicture::kNormal);
  const int frame0 = dlg.FindElement(u"img_ShowFrame", 0);
  EXPECT_EQ(dlg.El(frame0).box.width, 98);
  EXPECT_EQ(dlg.El(frame0).box.left, 24);

  // Over the strip of the frame right of the label: no handler, hover stays.
  Mouse(WM_MOUSEMOVE, {119, 228});
  EXPECT_TRUE(dlg.bBtnHover());
  // Straight on to Cancel across the surface: hover moves there.
  Mouse(WM_MOUSEMOVE, {135, 228});
  EXPECT_FALSE(dlg.bBtnHover());
  EXPECT_EQ(dlg.MousePointer(), win::Form::kDefaultPointer);
  EXPECT_EQ(dlg.FramePicture(0), ButtonPicture::kNormal);
  Mouse(WM_MOUSEMOVE, kCancel);
  EXPECT_EQ(dlg.FramePicture(1), ButtonPicture::kHover);
  Mouse(WM_LBUTTONDOWN, kCancel, MK_LBUTTON);
  EXPECT_EQ(dlg.FramePicture(1), ButtonPicture::kPressed);
  const int frame1 = dlg.FindElement(u"img_ShowFrame", 1);
  EXPECT_EQ(dlg.El(frame1).box.width, 97);
  EXPECT_EQ(dlg.El(frame1).box.height, 39);
  EXPECT_EQ(dlg.El(frame1).box.top, 208);
  Mouse(WM_MOUSEMOVE, kCancel, MK_LBUTTON);
  EXPECT_EQ(dlg.FramePicture(1), ButtonPicture::kPressed);
  Release(kCancel);
  EXPECT_FALSE(dlg.IsLoaded());

  // Closed while hovering: the next opening starts without hover.
  Open();
  EXPECT_FALSE(dlg.bBtnHover());
  Mouse(WM_MOUSEMOVE, kOk);
  EXPECT_EQ(dlg.FramePicture(0), ButtonPicture::kHover);
}

TEST_F(SettingsDialog, CloseButtonHoverEndsOnTheTitleStrip) {
  Put(Cfg("0", "0", "0"));
  Open();
  const int close0 = dlg.FindElement(u"imgClose", 0);
  const int close1 = dlg.FindElement(u"imgClose", 1);
  EXPECT_EQ(dlg.El(close0).tooltip, u"关闭");
  EXPECT_EQ(dlg.El(close1).tooltip, u"关闭");
  EXPECT_TRUE(dlg.El(close0).visible);
  EXPECT_FALSE(dlg.El(close1).visible);
  Mouse(WM_MOUSEMOVE, kClose);
  EXPECT_TRUE(dlg.bCloseHover());
  EXPECT_FALSE(dlg.El(close0).visible);
  EXPECT_TRUE(dlg.El(close1).visible);
  EXPECT_EQ(dlg.MousePointer(), win::Form::kCustomPointer);
  ICONINFO hand{};
  ASSERT_TRUE(::GetIconInfo(reinterpret_cast<HICON>(dlg.MouseIcon()), &hand));
  EXPECT_FALSE(hand.fIcon);
  EXPECT_EQ(hand.xHotspot, static_cast<DWORD>(HAND_HOTSPOT_X));
  EXPECT_EQ(hand.yHotspot, static_cast<DWORD>(HAND_HOTSPOT_Y));
  if (hand.hbmColor) ::DeleteObject(hand.hbmColor);
  if (hand.hbmMask) ::DeleteObject(hand.hbmMask);
  // The bare surface does not end it, the strip does.
  Mouse(WM_MOUSEMOVE, kSurface);
  EXPECT_TRUE(dlg.bCloseHover());
  Mouse(WM_MOUSEMOVE, kStrip);
  EXPECT_FALSE(dlg.bCloseHover());
  EXPECT_TRUE(dlg.El(close0).visible);
  EXPECT_FALSE(dlg.El(close1).visible);
  EXPECT_EQ(dlg.MousePointer(), win::Form::kDefaultPointer);

  // A right click on the close button does not close; the left one does.
  ClickAt(kClose, 2);
  EXPECT_TRUE(dlg.IsLoaded());
  ClickAt(kClose);
  EXPECT_FALSE(dlg.IsLoaded());
}

TEST_F(SettingsDialog, OnlyTheLeftButtonDragsTheDialog) {
  Put(Cfg("0", "0", "0"));
  Open();
  RECT before, after;
  ::GetWindowRect(dlg.hWnd(), &before);
  for (POINT p : {kStrip, kIcon, POINT{60, 17}}) {
    for (int button : {2, 4}) {
      Press(p, button);
      EXPECT_EQ(::GetCapture(), dlg.hWndIfLoaded()) << "the drag took the mouse";
      Release(p, button);
    }
  }
  ::GetWindowRect(dlg.hWnd(), &after);
  EXPECT_TRUE(::EqualRect(&before, &after));
  EXPECT_TRUE(dlg.IsLoaded());
}

// Real input, as a user gives it: a left press on the title strip, a move,
// the release. The system's move loop takes over from DragWindow.
TEST_F(SettingsDialog, ALeftDragOnTheTitleStripMovesTheDialog) {
  Put(Cfg("0", "0", "0"));
  Open();
  HWND h = dlg.hWnd();
  ::SetForegroundWindow(h);
  win::DoEvents();
  RECT before;
  ::GetWindowRect(h, &before);
  POINT start = kStrip;
  ::ClientToScreen(h, &start);
  ::SetCursorPos(start.x, start.y);
  win::DoEvents();
  auto input = [](DWORD flags, int x, int y) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = flags;
    if (flags & MOUSEEVENTF_ABSOLUTE) {
      in.mi.dx = static_cast<LONG>((x * 65535.0) / (::GetSystemMetrics(SM_CXSCREEN) - 1));
      in.mi.dy = static_cast<LONG>((y * 65535.0) / (::GetSystemMetrics(SM_CYSCREEN) - 1));
    }
    ::SendInput(1, &in, sizeof in);
  };
  std::thread user([&] {
    ::Sleep(150);
    input(MOUSEEVENTF_LEFTDOWN, 0, 0);
    ::Sleep(150);
    for (int i = 1; i <= 4; ++i) {
      input(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, start.x + 10 * i, start.y + 5 * i);
      ::Sleep(50);
    }
    ::Sleep(150);
    input(MOUSEEVENTF_LEFTUP, 0, 0);
  });
  win::WaitWithMessages(20000, [&] {
    RECT r;
    ::GetWindowRect(h, &r);
    return r.left != before.left && ::GetCapture() == nullptr && !(::GetAsyncKeyState(VK_LBUTTON) & 0x8000);
  });
  user.join();
  win::DoEvents();
  RECT after;
  ::GetWindowRect(h, &after);
  EXPECT_EQ(after.left - before.left, 40);
  EXPECT_EQ(after.top - before.top, 20);
  EXPECT_TRUE(dlg.IsLoaded());
}

TEST_F(SettingsDialog, AMinimisedDialogIsNotLaidOut) {
  Put(Cfg("0", "0", "0"));
  Open();
  Mouse(WM_MOUSEMOVE, kClose);
  const int close1 = dlg.FindElement(u"imgClose", 1);
  ASSERT_TRUE(dlg.El(close1).visible);
  dlg.SetWindowState(win::Form::kMinimized);
  ASSERT_EQ(dlg.WindowState(), win::Form::kMinimized);
  EXPECT_TRUE(dlg.El(close1).visible);
  dlg.SetWindowState(win::Form::kNormal);
  ASSERT_EQ(dlg.WindowState(), win::Form::kNormal);
  EXPECT_FALSE(dlg.El(close1).visible) << "restored: laid out again";
  EXPECT_TRUE(dlg.bCloseHover()) << "the layout leaves the flag";
}

// --- what the screen shows ----------------------------------------------------------

// A system colour changed for the scope (the test prefix's theme has a
// white scroll bar colour, which would hide Line5).
class SysColorScope {
 public:
  SysColorScope(int index, COLORREF color) : index_(index), old_(::GetSysColor(index)) {
    ::SetSysColors(1, &index_, &color);
  }
  ~SysColorScope() { ::SetSysColors(1, &index_, &old_); }

 private:
  int index_;
  COLORREF old_;
};

TEST_F(SettingsDialog, TheSnapshotShowsChromeAndButtonPictures) {
  Put(Cfg("0", "0", "0"));
  SysColorScope scrollBar(COLOR_SCROLLBAR, RGB(200, 200, 200));
  Open();
  RECT rc;
  ::GetClientRect(dlg.hWnd(), &rc);
  EXPECT_EQ(rc.right, 276);
  EXPECT_EQ(rc.bottom, 267);

  const skin::Picture normal = skin::Picture::FromBitmapResource(IDB_BTN_NORMAL);
  const skin::Picture hover = skin::Picture::FromBitmapResource(IDB_BTN_HOVER);
  const skin::Picture active = skin::Picture::FromBitmapResource(IDB_BTN_ACTIVE);
  const skin::Picture close0 = skin::Picture::FromBitmapResource(IDB_SET_CLOSE_NORMAL);
  const skin::Picture close1 = skin::Picture::FromBitmapResource(IDB_SET_CLOSE_HOVER);
  const skin::Picture icon = skin::Picture::FromBitmapResource(IDB_TITLEICON);
  auto captionRect = [&](const char16_t* name) {
    const skin::PixelRect r = skin::PixelBox(dlg.El(dlg.FindElement(name)));
    return RECT{r.left, r.top, r.right, r.bottom};
  };
  const RECT label1 = captionRect(u"Label1");
  const RECT label2 = captionRect(u"Label2");

  win::UniqueBitmap shot = dlg.Snapshot();
  ASSERT_TRUE(shot);
  const uint32_t border = 0x097BB7;
  EXPECT_EQ(PixelAt(shot.get(), 0, 150), border);
  EXPECT_EQ(PixelAt(shot.get(), 275, 150), border);
  EXPECT_EQ(PixelAt(shot.get(), 150, 0), border);
  EXPECT_EQ(PixelAt(shot.get(), 150, 266), border);
  EXPECT_EQ(PixelAt(shot.get(), 150, 265), 0xFFFFFFu);
  EXPECT_EQ(PixelAt(shot.get(), 274, 150), 0xFFFFFFu);
  // Line5 from -8 to 168 on row 192.
  const uint32_t scroll = 0xC8C8C8;
  EXPECT_EQ(PixelAt(shot.get(), 1, 192), scroll);
  EXPECT_EQ(PixelAt(shot.get(), 167, 192), scroll);
  EXPECT_EQ(PixelAt(shot.get(), 168, 192), 0xFFFFFFu);
  // The title strip: blue across the width, 35 rows.
  for (POINT p : {POINT{1, 1}, POINT{150, 17}, POINT{274, 34}}) {
    const uint32_t c = PixelAt(shot.get(), p.x, p.y);
    EXPECT_GT(c & 0xFF, 150u) << p.x << "," << p.y;
    EXPECT_LT(c >> 16, 120u) << p.x << "," << p.y;
  }
  EXPECT_EQ(PixelAt(shot.get(), 150, 36), 0xFFFFFFu);
  EXPECT_EQ(PixelAt(shot.get(), 5 + 16, 2 + 16), PixelAt(icon.bitmap(), 16, 16));
  EXPECT_EQ(Mismatches(shot.get(), 238, 2, close0), 0);
  // The title: white text over the strip, from x 45.
  const skin::PixelRect title = skin::PixelBox(dlg.El(dlg.FindElement(u"lblTitle")));
  EXPECT_EQ(title.left, 45);
  int white = 0;
  for (int y = title.top; y < title.bottom; ++y)
    for (int x = title.left; x < title.right; ++x) white += PixelAt(shot.get(), x, y) == 0xFFFFFFu;
  EXPECT_GT(white, 30);
  // Both buttons normal, captions in the system text colour on them.
  EXPECT_EQ(Mismatches(shot.get(), 24, 208, normal, label1), 0);
  EXPECT_EQ(Mismatches(shot.get(), 152, 208, normal, label2), 0);
  const uint32_t text = Rgb(::GetSysColor(COLOR_BTNTEXT));
  for (const RECT& r : {label1, label2}) {
    int ink = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) ink += PixelAt(shot.get(), x, y) == text;
    EXPECT_GT(ink, 15);
  }

  Mouse(WM_MOUSEMOVE, kOk);
  shot = dlg.Snapshot();
  EXPECT_EQ(Mismatches(shot.get(), 24, 208, hover, label1), 0);
  EXPECT_EQ(Mismatches(shot.get(), 152, 208, normal, label2), 0);
  Mouse(WM_MOUSEMOVE, kSurface);
  shot = dlg.Snapshot();
  EXPECT_EQ(Mismatches(shot.get(), 24, 208, normal, label1), 0);
  Mouse(WM_MOUSEMOVE, kCancel);
  Mouse(WM_LBUTTONDOWN, kCancel, MK_LBUTTON);
  shot = dlg.Snapshot();
  EXPECT_EQ(Mismatches(shot.get(), 152, 208, active, label2), 0);
  EXPECT_EQ(PixelAt(shot.get(), 200, 247), 0xFFFFFFu) << "the pressed picture is a row shorter";
  EXPECT_EQ(Mismatches(shot.get(), 24, 208, normal, label1), 0);
  Mouse(WM_MOUSEMOVE, kClose, MK_LBUTTON);  // captured: still Cancel's
  shot = dlg.Snapshot();
  EXPECT_EQ(Mismatches(shot.get(), 238, 2, close0), 0);
  Release(kClose);
  EXPECT_FALSE(dlg.IsLoaded());

  Open();
  Mouse(WM_MOUSEMOVE, kClose);
  shot = dlg.Snapshot();
  EXPECT_EQ(Mismatches(shot.get(), 238, 2, close1), 0);
}

TEST_F(SettingsDialog, TheWindowShowsTheBoxesOnWhite) {
  Put(Cfg("1", "0", "1"));
  Open();
  HWND h = dlg.hWnd();
  ::RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  win::DoEvents();
  // What the window's surface holds, check boxes included.
  win::UniqueBitmap shot = testsupport::CaptureWindow(h);
  // The capture is real: the close button is where the snapshot has it.
  const skin::Picture close0 = skin::Picture::FromBitmapResource(IDB_SET_CLOSE_NORMAL);
  ASSERT_EQ(Mismatches(shot.get(), 238, 2, close0), 0);
  const uint32_t text = Rgb(::GetSysColor(COLOR_BTNTEXT));
  struct {
    int index, x, y, w, h;
  } boxes[] = {{0, 32, 56, 97, 25}, {1, 32, 160, 137, 17}, {3, 32, 112, 121, 17}};
  for (auto b : boxes) {
    RECT wr;
    ::GetWindowRect(dlg.Check1(b.index), &wr);
    ::MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&wr), 2);
    EXPECT_EQ(wr.left, b.x);
    EXPECT_EQ(wr.top, b.y);
    EXPECT_EQ(wr.right - wr.left, b.w);
    EXPECT_EQ(wr.bottom - wr.top, b.h);
    int white = 0, ink = 0;
    // The caption part, right of the square.
    for (int y = b.y; y < b.y + b.h; ++y) {
      for (int x = b.x + 20; x < b.x + b.w; ++x) {
        const uint32_t c = PixelAt(shot.get(), x, y);
        white += c == 0xFFFFFFu;
        ink += c == text;
      }
    }
    const int area = (b.w - 20) * b.h;
    EXPECT_GT(white, area / 2) << b.index;
    EXPECT_GT(ink, 20) << b.index;
    wchar_t caption[64] = {};
    ::GetWindowTextW(dlg.Check1(b.index), caption, 64);
    EXPECT_EQ(std::wstring(caption), b.index == 0   ? L"开机自动运行"
                                     : b.index == 1 ? L"关闭时,最小化至托盘"
                                                    : L"创建桌面快捷方式");
  }
}

// --- modal show and keyboard ---------------------------------------------------------

// Focus events for the dialog's windowless children, as a screen reader hears them.
HWND g_heardWindow = nullptr;
std::vector<LONG> g_heard;
void CALLBACK Hear(HWINEVENTHOOK, DWORD, HWND h, LONG object, LONG child, DWORD, DWORD) {
  if (h == g_heardWindow && object == OBJID_CLIENT && child != CHILDID_SELF) g_heard.push_back(child);
}

// The keyboard alone, in the modal dialog: Tab walks the boxes top to
// bottom, then OK and Cancel, and wraps; Shift+Tab walks back. Space toggles
// a box, Enter and Esc on a box do nothing. The button the keyboard is on
// shows a dotted cue and is focused for screen readers; Space presses it as
// the mouse does (pressed picture, then OK writes and applies on the
// release). The window that was active comes back.
TEST_F(SettingsDialog, TheKeyboardWalksTheBoxesAndTheButtonsAndPressesThem) {
  Put(Cfg("0", "0", "0"));
  OtherForm other;
  other.Show();
  ASSERT_TRUE(::IsWindowEnabled(other.hWnd()));
  HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, &Hear,
                                         ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  g_heard.clear();
  std::vector<HWND> focus, boxes;
  std::vector<long> accFocus, states;
  std::vector<int> cue;
  bool otherDisabled = false;
  auto key = [](UINT vk, UINT scan) {
    HWND f = ::GetFocus();
    ::PostMessageW(f, WM_KEYDOWN, vk, 0x00000001 | (scan << 16));
    if (vk == VK_SPACE) ::PostMessageW(f, WM_CHAR, L' ', 0x00000001 | (scan << 16));
    ::PostMessageW(f, WM_KEYUP, vk, 0xC0000001 | (scan << 16));
  };
  auto shift = [](bool down) {
    BYTE keys[256];
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    ::SetKeyboardState(keys);
  };
  auto look = [&] {
    focus.push_back(::GetFocus());
    win::ComPtr<IAccessible> acc;
    if (::AccessibleObjectFromWindow(dlg.hWnd(), OBJID_CLIENT, __uuidof(IAccessible), acc.put_void()) != S_OK) return;
    VARIANT v{};
    if (acc->get_accFocus(&v) == S_OK && v.vt == VT_I4 && ::GetFocus() == dlg.hWnd()) accFocus.push_back(v.lVal);
    for (long child : {1, 2, 3}) {  // close, OK, Cancel
      VARIANT c{}, state{};
      c.vt = VT_I4, c.lVal = child;
      acc->get_accState(c, &state);
      states.push_back(state.lVal & (STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED));
    }
    // OK's cue: dots of the text colour along its top, 4 pixels inside.
    win::UniqueBitmap shot = dlg.Snapshot();
    int dots = 0;
    for (int x = 30; x < 110; ++x) dots += PixelAt(shot.get(), x, 212) == Rgb(::GetSysColor(COLOR_BTNTEXT));
    cue.push_back(dots);
  };
  Steps steps({
      [&] {
        g_heardWindow = dlg.hWndIfLoaded();
        otherDisabled = !::IsWindowEnabled(other.hWnd());
        boxes = {dlg.Check1(0), dlg.Check1(3), dlg.Check1(1)};
        focus.push_back(::GetFocus());
        key(VK_SPACE, 0x39);  // Check1(0)
        key(VK_RETURN, 0x1C);
        key(VK_ESCAPE, 0x01);
      },
      [&] {
        EXPECT_TRUE(dlg.IsLoaded()) << "Enter or Esc on a box ended the dialog";
        focus.push_back(::GetFocus());
        key(VK_TAB, 0x0F);
      },
      [&] {
        focus.push_back(::GetFocus());
        key(VK_TAB, 0x0F);
      },
      [&] { look(), key(VK_TAB, 0x0F); },  // the last box
      [&] { look(), key(VK_TAB, 0x0F); },  // OK
      [&] { look(), key(VK_TAB, 0x0F); },  // Cancel
      [&] { look(), shift(true), key(VK_TAB, 0x0F); },  // the first box again
      [&] { shift(false), look(), shift(true), key(VK_TAB, 0x0F); },  // Cancel
      [&] { shift(false), look(), ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_SPACE, 0x00390001); },  // OK
      [&] {
        EXPECT_TRUE(dlg.IsLoaded());
        EXPECT_EQ(dlg.FramePicture(settings::kOkButton), ButtonPicture::kPressed);
        ::PostMessageW(::GetFocus(), WM_KEYUP, VK_SPACE, 0xC0390001);
      },
  });
  dlg.ShowModal();
  ::UnhookWinEvent(hook);
  EXPECT_EQ(steps.done(), 10u);
  EXPECT_FALSE(steps.overran());
  EXPECT_FALSE(dlg.IsLoaded());
  EXPECT_TRUE(otherDisabled);
  EXPECT_EQ(::GetActiveWindow(), other.hWnd()) << "the window that was active before is active again";
  ASSERT_EQ(boxes.size(), 3u);
  HWND d = g_heardWindow;
  EXPECT_EQ(focus, (std::vector<HWND>{boxes[0], boxes[0], boxes[1], boxes[2], d, d, boxes[0], d, d}));
  EXPECT_EQ(accFocus, (std::vector<long>{2, 3, 3, 2}));
  EXPECT_EQ(g_heard, (std::vector<LONG>{2, 3, 3, 2}));
  const long both = STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED, able = STATE_SYSTEM_FOCUSABLE;
  EXPECT_EQ(states, (std::vector<long>{0, able, able, 0, both, able, 0, able, both, 0, able, able, 0, able, both,
                                       0, both, able}));
  ASSERT_EQ(cue.size(), 6u);
  EXPECT_EQ(cue[0], 0);
  EXPECT_GT(cue[1], 20) << "no focus cue on OK";
  EXPECT_EQ(cue[2], 0) << "the cue of the button with the focus only";
  EXPECT_EQ(Keys(), (std::vector<std::wstring>{L"1", L"0", L"0"}));
  EXPECT_EQ(GetRun(HKEY_CURRENT_USER), Sz(client.Command())) << "applied";
  other.Unload();
}

TEST_F(SettingsDialog, ALoadedHiddenDialogIsShownAsItWasLoaded) {
  Put(Cfg("0", "0", "1"));
  EXPECT_FALSE(dlg.Visible());  // loads it hidden, as the tray's show command does
  EXPECT_TRUE(LinkThere()) << "the load enforced the options";
  ASSERT_TRUE(::DeleteFileW(link.c_str()));
  Put(Cfg("1", "1", "0"));
  std::vector<bool> shown;
  Steps first({[&] {
    shown = {dlg.Visible(), Checked(0), Checked(1), Checked(3)};
    ::PostMessageW(dlg.hWndIfLoaded(), WM_CLOSE, 0, 0);
  }});
  dlg.ShowModal();
  EXPECT_EQ(shown, (std::vector<bool>{true, false, false, true})) << "what the load read";
  EXPECT_FALSE(LinkThere()) << "no second load";
  EXPECT_EQ(Bytes(), Cfg("1", "1", "0"));

  // Closed: the next opening loads anew.
  Steps second({[&] {
    shown = {dlg.Visible(), Checked(0), Checked(1), Checked(3)};
    ::PostMessageW(dlg.hWndIfLoaded(), WM_CLOSE, 0, 0);
  }});
  dlg.ShowModal();
  EXPECT_EQ(shown, (std::vector<bool>{true, true, true, false}));
  EXPECT_TRUE(bCloseToTray);
}

}  // namespace
