// Forms and message loops under Wine: load semantics, unload, modal show,
// window state, timers, waits.
#include "common/win/form.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "common/win/msgloop.h"

namespace {

constexpr UINT kStep = WM_APP + 1;

class TestForm : public win::Form {
 public:
  int loads = 0;
  int unloads = 0;
  int activates = 0;
  int steps = 0;
  bool unloadInLoad = false;
  bool withChildren = false;
  HWND check1 = nullptr;
  HWND check2 = nullptr;
  std::vector<WORD> commands;
  std::function<void()> onActivate;
  std::function<void()> onStep;
  win::FormTimer timer{*this, [this] { ++ticks; }, 30};
  int ticks = 0;

 protected:
  void DescribeWindow(win::FormWindowSpec& s) override {
    s.title = L"form test";
    s.style = WS_POPUP | WS_CLIPCHILDREN;
    s.left = 50;
    s.top = 60;
    s.width = 240;
    s.height = 120;
  }
  void Form_CreateControls() override {
    if (!withChildren) return;
    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    check1 = ::CreateWindowExW(0, L"BUTTON", L"one", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 10, 10,
                               100, 20, hWndIfLoaded(), reinterpret_cast<HMENU>(10), inst, nullptr);
    check2 = ::CreateWindowExW(0, L"BUTTON", L"two", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 10, 40,
                               100, 20, hWndIfLoaded(), reinterpret_cast<HMENU>(11), inst, nullptr);
  }
  void Form_Load() override {
    ++loads;
    if (unloadInLoad) Unload();
  }
  void Form_Activate() override {
    ++activates;
    if (onActivate) onActivate();
  }
  void Form_Unload() override { ++unloads; }
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == WM_COMMAND) commands.push_back(LOWORD(wp));
    if (msg == kStep) {
      ++steps;
      if (onStep) onStep();
      return 0;
    }
    return Form::WndProc(msg, wp, lp);
  }
};

bool TakeQuit(int* code = nullptr) {
  MSG m;
  if (!::PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
  if (code) *code = static_cast<int>(m.wParam);
  return true;
}

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::Form::SetEndWhenNoneLoaded(false);
    win::DoEvents();
    TakeQuit();
  }
  void TearDown() override {
    win::Form::SetEndWhenNoneLoaded(true);
    TakeQuit();
  }
};

TEST_F(FormTest, AskingForWindowOrVisibilityLoadsOnceAndUnloadKeepsTheObject) {
  TestForm f;
  EXPECT_FALSE(f.IsLoaded());
  HWND h = f.hWnd();
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(::IsWindow(h));
  EXPECT_EQ(f.hWnd(), h);
  EXPECT_FALSE(f.Visible());
  EXPECT_EQ(f.loads, 1);

  f.Unload();
  EXPECT_FALSE(f.IsLoaded());
  EXPECT_FALSE(::IsWindow(h));
  EXPECT_EQ(f.unloads, 1);
  EXPECT_EQ(f.hWndIfLoaded(), nullptr);

  // Visibility loads it again; Form_Load runs for the new load.
  EXPECT_FALSE(f.Visible());
  EXPECT_TRUE(f.IsLoaded());
  EXPECT_EQ(f.loads, 2);
  f.Show();
  EXPECT_TRUE(f.Visible());
  EXPECT_EQ(f.loads, 2);
  f.Unload();
}

TEST_F(FormTest, CloseMessagesUnload) {
  TestForm f;
  ::SendMessageW(f.hWnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(f.IsLoaded());
  ::SendMessageW(f.hWnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(f.IsLoaded());
  EXPECT_EQ(f.loads, 2);
  EXPECT_EQ(f.unloads, 2);
}

TEST_F(FormTest, UnloadingInsideLoadLeavesNothingShown) {
  TestForm f;
  f.unloadInLoad = true;
  f.Show();
  EXPECT_FALSE(f.IsLoaded());
  EXPECT_EQ(f.loads, 1);
  EXPECT_EQ(f.hWnd(), nullptr);
  EXPECT_EQ(win::Form::LoadedCount(), 0);
}

TEST_F(FormTest, TheLastUnloadEndsTheLoop) {
  win::Form::SetEndWhenNoneLoaded(true);
  TestForm a, b;
  a.Load();
  b.Load();
  EXPECT_EQ(win::Form::LoadedCount(), 2);
  a.Unload();
  EXPECT_FALSE(TakeQuit());
  a.Load();
  b.Unload();
  EXPECT_FALSE(TakeQuit());
  a.Unload();
  int code = -1;
  EXPECT_TRUE(TakeQuit(&code));
  EXPECT_EQ(code, 0);
}

TEST_F(FormTest, ActivationReachesTheFormAfterShowing) {
  TestForm f;
  f.Show();
  EXPECT_TRUE(win::WaitWithMessages(20000, [&] { return f.activates > 0; }));
  f.Unload();
}

TEST_F(FormTest, ModalFormDisablesOthersNavigatesWithTabAndIgnoresEnterAndEscape) {
  TestForm other, hidden, modal;
  other.Show();
  hidden.Load();
  modal.withChildren = true;
  bool otherDisabled = false, hiddenEnabled = false, focusMoved = false, toggled = false, stillLoaded = false;
  modal.onActivate = [&] {
    if (modal.activates > 1) return;
    otherDisabled = !::IsWindowEnabled(other.hWndIfLoaded());
    hiddenEnabled = ::IsWindowEnabled(hidden.hWndIfLoaded()) != FALSE;
    ::SetFocus(modal.check1);
    ::PostMessageW(modal.check1, WM_KEYDOWN, VK_RETURN, 0);
    ::PostMessageW(modal.check1, WM_KEYUP, VK_RETURN, 0xC0000000);
    ::PostMessageW(modal.check1, WM_KEYDOWN, VK_ESCAPE, 0);
    ::PostMessageW(modal.check1, WM_KEYUP, VK_ESCAPE, 0xC0000000);
    ::PostMessageW(modal.check1, WM_KEYDOWN, VK_TAB, 0);
    ::PostMessageW(modal.check1, WM_KEYUP, VK_TAB, 0xC0000000);
    ::PostMessageW(modal.hWndIfLoaded(), kStep, 0, 0);
  };
  modal.onStep = [&] {
    if (modal.steps == 1) {
      focusMoved = ::GetFocus() == modal.check2;
      HWND target = ::GetFocus();
      ::PostMessageW(target, WM_KEYDOWN, VK_SPACE, 0x00390001);
      ::PostMessageW(target, WM_CHAR, L' ', 0x00390001);
      ::PostMessageW(target, WM_KEYUP, VK_SPACE, 0xC0390001);
      ::PostMessageW(modal.hWndIfLoaded(), kStep, 0, 0);
      return;
    }
    toggled = ::SendMessageW(modal.check2, BM_GETCHECK, 0, 0) == BST_CHECKED;
    stillLoaded = modal.IsLoaded();
    modal.Unload();
  };
  // Never hang the run when activation does not come.
  win::FormTimer guard(modal, [&] { modal.Unload(); }, 8000);
  modal.Load();
  guard.SetEnabled(true);
  modal.ShowModal();

  EXPECT_FALSE(modal.IsLoaded());
  EXPECT_TRUE(otherDisabled);
  EXPECT_TRUE(hiddenEnabled);
  EXPECT_TRUE(focusMoved);
  EXPECT_TRUE(toggled);
  EXPECT_TRUE(stillLoaded);
  // Neither Enter nor Esc became a default or cancel command.
  for (WORD id : modal.commands) {
    EXPECT_NE(id, IDOK);
    EXPECT_NE(id, IDCANCEL);
  }
  EXPECT_TRUE(::IsWindowEnabled(other.hWndIfLoaded()));
  EXPECT_FALSE(modal.IsModal());
  other.Unload();
  hidden.Unload();
}

TEST_F(FormTest, WindowStateFollowsAndWaitsForAHiddenWindow) {
  TestForm f;
  f.Show();
  EXPECT_EQ(f.WindowState(), 0);
  f.SetWindowState(1);
  EXPECT_TRUE(::IsIconic(f.hWnd()));
  EXPECT_EQ(f.WindowState(), 1);
  f.SetWindowState(0);
  EXPECT_FALSE(::IsIconic(f.hWnd()));
  EXPECT_EQ(f.WindowState(), 0);

  f.SetVisible(false);
  f.SetWindowState(1);
  EXPECT_FALSE(f.Visible());
  EXPECT_EQ(f.WindowState(), 1);
  f.SetVisible(true);
  EXPECT_TRUE(f.Visible());
  EXPECT_TRUE(::IsIconic(f.hWnd()));
  // Hidden while minimised, shown, then set normal: restored.
  f.SetVisible(false);
  f.SetVisible(true);
  f.SetWindowState(0);
  EXPECT_FALSE(::IsIconic(f.hWnd()));
  f.Unload();
}

TEST_F(FormTest, CustomPointerAppliesOnlyOverTheFormsOwnSurface) {
  TestForm f;
  f.withChildren = true;
  HWND h = f.hWnd();
  HCURSOR hand = ::LoadCursorW(nullptr, IDC_HAND);
  HCURSOR arrow = ::LoadCursorW(nullptr, IDC_ARROW);
  f.SetMouseIcon(hand);
  f.SetMousePointer(99);
  EXPECT_TRUE(::SendMessageW(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(::GetCursor(), hand);
  EXPECT_FALSE(
      ::SendMessageW(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(f.check1), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  f.SetMousePointer(0);
  ::SendMessageW(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(::GetCursor(), arrow);
  f.Unload();
}

TEST_F(FormTest, TimersTickWhileEnabledAndStopWithTheWindow) {
  TestForm f;
  f.Load();
  EXPECT_FALSE(win::WaitWithMessages(150, [&] { return f.ticks > 0; }));
  f.timer.SetEnabled(true);
  EXPECT_TRUE(win::WaitWithMessages(20000, [&] { return f.ticks >= 3; }));
  f.Unload();
  EXPECT_FALSE(f.timer.Enabled());
  // A reload starts with the timer off.
  f.Load();
  int before = f.ticks;
  win::WaitWithMessages(150);
  EXPECT_EQ(f.ticks, before);
  f.Unload();
}

// --- message loop ------------------------------------------------------------

TEST_F(FormTest, DoEventsHandlesPendingMessagesAndFiltersComeFirst) {
  TestForm f;
  HWND h = f.hWnd();
  ::PostMessageW(h, kStep, 0, 0);
  ::PostMessageW(h, kStep, 0, 0);
  EXPECT_TRUE(win::DoEvents());
  EXPECT_EQ(f.steps, 2);
  {
    int seen = 0;
    win::ScopedPreTranslate swallow([&](MSG& m) {
      if (m.message != kStep) return false;
      ++seen;
      return true;
    });
    ::PostMessageW(h, kStep, 0, 0);
    win::DoEvents();
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(f.steps, 2);
  }
  ::PostMessageW(h, kStep, 0, 0);
  win::DoEvents();
  EXPECT_EQ(f.steps, 3);
  f.Unload();
}

TEST_F(FormTest, QuitIsKeptForTheEnclosingLoop) {
  ::PostQuitMessage(7);
  EXPECT_FALSE(win::DoEvents());
  EXPECT_FALSE(win::WaitWithMessages(2000, [] { return false; }));
  int code = 0;
  EXPECT_TRUE(TakeQuit(&code));
  EXPECT_EQ(code, 7);
}

TEST_F(FormTest, WaitEndsAtTheDeadlineWithoutSpinning) {
  FILETIME c, e, k0, u0, k1, u1;
  ::GetThreadTimes(::GetCurrentThread(), &c, &e, &k0, &u0);
  ULONGLONG t0 = ::GetTickCount64();
  EXPECT_FALSE(win::WaitWithMessages(600, [] { return false; }));
  ULONGLONG took = ::GetTickCount64() - t0;
  ::GetThreadTimes(::GetCurrentThread(), &c, &e, &k1, &u1);
  auto ticks = [](FILETIME f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  ULONGLONG cpuMs = (ticks(k1) - ticks(k0) + ticks(u1) - ticks(u0)) / 10000;
  EXPECT_GE(took, 590u);
  EXPECT_LT(took, 3000u);  // room for a loaded machine
  EXPECT_LT(cpuMs, 200u) << "the wait spun";
}

TEST_F(FormTest, WaitEndsAsSoonAsTheConditionHolds) {
  TestForm f;
  f.Load();
  f.timer.SetInterval(100);
  f.timer.SetEnabled(true);
  ULONGLONG t0 = ::GetTickCount64();
  EXPECT_TRUE(win::WaitWithMessages(20000, [&] { return f.ticks >= 2; }));
  EXPECT_LT(::GetTickCount64() - t0, 10000u);  // not held to the deadline
  f.Unload();
}

}  // namespace
