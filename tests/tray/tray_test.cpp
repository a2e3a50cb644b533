// The tray icon, the hook on the main window and the tray form in the test
// process: the record given to the shell, the re-add after a new taskbar,
// the close command's two paths and their order, and the show command on
// the real main window.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "client/mainwindow/frmMain.h"
#include "client/settings/frmProgramSet.h"
#include "client/startup/modChkOptState.h"
#include "client/tray/frmMenu.h"
#include "client/tray/modSubClass.h"
#include "client/tray/modTray.h"
#include "common/product.h"
#include "common/win/form.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"
#include "tests/support/testsupport.h"

namespace {

using modChkOptState::bCloseToTray;

// What happened, in order: the shell calls and the closing of windows.
struct Journal {
  static inline std::vector<std::wstring> events;
  static inline std::vector<std::pair<DWORD, NOTIFYICONDATAW>> calls;
  static inline bool forwardToShell = false;
  static inline std::vector<BOOL> shellResults;

  static BOOL WINAPI Notify(DWORD message, PNOTIFYICONDATAW data) {
    calls.push_back({message, *data});
    events.push_back(message == NIM_ADD ? L"add" : message == NIM_DELETE ? L"delete" : L"other");
    if (!forwardToShell) return TRUE;
    const BOOL r = ::Shell_NotifyIconW(message, data);
    shellResults.push_back(r);
    return r;
  }
  static void Clear() {
    events.clear();
    calls.clear();
    shellResults.clear();
  }
};

// Names the windows a close-order test watches.
struct Watch {
  static inline std::vector<std::pair<HWND, std::wstring>> names;
  static std::wstring NameOf(HWND h) {
    if (h == frmProgramSet::Instance().hWndIfLoaded()) return L"settings";
    for (auto& [w, n] : names)
      if (w == h) return n;
    return {};
  }
  static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION) {
      auto* m = reinterpret_cast<CWPSTRUCT*>(lp);
      if (m->message == WM_CLOSE || m->message == WM_DESTROY) {
        const std::wstring name = NameOf(m->hwnd);
        if (!name.empty()) Journal::events.push_back((m->message == WM_CLOSE ? L"close " : L"destroy ") + name);
      }
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
  }
};

// Stands in for the main window: a plain form that notes what reaches its
// own procedure.
class StandInMain : public win::Form {
 public:
  std::vector<WPARAM> sysCommands;
  int pings = 0;
  bool refuseClose = false;
  WNDPROC procAtUnload = nullptr;

 protected:
  void DescribeWindow(win::FormWindowSpec& s) override {
    s.title = L"stand-in main";
    s.style = WS_POPUP;
    s.left = 40;
    s.top = 40;
    s.width = 300;
    s.height = 200;
  }
  void Form_Unload() override {
    procAtUnload = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWndIfLoaded(), GWLP_WNDPROC));
  }
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == WM_SYSCOMMAND) sysCommands.push_back(wp);
    if (msg == WM_APP + 7) return ++pings;
    if (msg == WM_CLOSE && refuseClose) return 0;
    return Form::WndProc(msg, wp, lp);
  }
};

std::string Cfg(const char* closetotray) {
  // Empty autorun and shortlnk: the options enforcement leaves the Run value
  // and the desktop alone.
  return std::string("<config><autorun></autorun><shortlnk></shortlnk><closetotray>") + closetotray +
         "</closetotray><ver>1.0.0</ver></config>";
}

bool ShellKnows(HWND h, UINT id) {
  NOTIFYICONDATAW d{};
  d.cbSize = sizeof d;
  d.hWnd = h;
  d.uID = id;
  return ::Shell_NotifyIconW(NIM_MODIFY, &d) != FALSE;
}

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::Form::SetEndWhenNoneLoaded(false);
    ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"cfg.xml", Cfg("1")));
    Journal::Clear();
    Journal::forwardToShell = false;
    previousNotify = modTray::SetShellNotifyForTesting(&Journal::Notify);
    bCloseToTray = false;
  }
  void TearDown() override {
    if (hook) ::UnhookWindowsHookEx(hook);
    if (modTray::IsTrayIconWanted()) modTray::RemoveTrayIcon();
    main.Unload();
    frmProgramSet::Instance().Unload();
    frmMenu::Instance().Unload();
    modTray::SetShellNotifyForTesting(previousNotify);
    win::DoEvents();
    bCloseToTray = closeToTrayBefore;
    win::Form::SetEndWhenNoneLoaded(true);
  }
  void WatchClosing(HWND mainWindow) {
    Watch::names = {{frmMenu::Instance().hWndIfLoaded(), L"menu"}, {mainWindow, L"main"}};
    hook = ::SetWindowsHookExW(WH_CALLWNDPROC, &Watch::Hook, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
  }
  WNDPROC ProcOf(HWND h) { return reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(h, GWLP_WNDPROC)); }
  // The stand-in main window hooked and shown, the icon added: a client that runs.
  HWND Running() {
    modTray::AddTrayIcon(frmMenu::Instance());
    modSubClass::HookMainWindow(main.hWnd());
    main.Show();
    return main.hWnd();
  }

  win::OleScope ole;
  const bool closeToTrayBefore = bCloseToTray;
  testsupport::TempDir folder;
  testsupport::AppFolderScope app{folder.path()};
  modTray::ShellNotifyFunction previousNotify = nullptr;
  StandInMain main;
  HHOOK hook = nullptr;
};

// --- tray icon ----------------------------------------------------------------

TEST_F(TrayTest, OneRecordAddsTheIconWithItsBalloonAndTakesItAway) {
  StandInMain owner;
  ASSERT_FALSE(owner.IsLoaded());
  modTray::AddTrayIcon(owner);
  EXPECT_TRUE(owner.IsLoaded()) << "asking the owner for its window loads it";
  EXPECT_FALSE(owner.Visible());
  ASSERT_EQ(Journal::calls.size(), 1u);
  const auto& [message, d] = Journal::calls[0];
  EXPECT_EQ(message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(d.cbSize, sizeof(NOTIFYICONDATAW));
  EXPECT_EQ(d.hWnd, owner.hWndIfLoaded());
  EXPECT_EQ(d.uID, 88888u);
  EXPECT_EQ(d.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_STATE | NIF_INFO));
  EXPECT_EQ(d.uFlags, 31u);
  EXPECT_EQ(d.uCallbackMessage, static_cast<UINT>(WM_MOUSEMOVE));
  EXPECT_EQ(d.hIcon, frmMain::Instance().imgTray());
  EXPECT_STREQ(d.szTip, L"感谢您的使用-Velmora音乐盒");
  EXPECT_EQ(d.dwState, 0u);
  EXPECT_EQ(d.dwStateMask, 0u);
  EXPECT_EQ(std::wstring(d.szInfo), win::W(product::WebHome()));
  EXPECT_EQ(std::wstring(d.szInfo).rfind(L"http://", 0), 0u);
  EXPECT_STREQ(d.szInfoTitle, L"Velmora音乐网");
  EXPECT_EQ(d.uTimeout, 10000u);
  EXPECT_EQ(d.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_TRUE(modTray::IsTrayIconWanted());

  modTray::RemoveTrayIcon();
  ASSERT_EQ(Journal::calls.size(), 2u);
  EXPECT_EQ(Journal::calls[1].first, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(Journal::calls[1].second.uFlags, 0u);
  EXPECT_EQ(Journal::calls[1].second.hWnd, owner.hWndIfLoaded());
  EXPECT_EQ(Journal::calls[1].second.uID, 88888u);
  EXPECT_EQ(Journal::calls[1].second.cbSize, sizeof(NOTIFYICONDATAW));
  EXPECT_EQ(modTray::TrayIconData.uFlags, 0u) << "the record itself is used for the delete";
  EXPECT_FALSE(modTray::IsTrayIconWanted());
}

TEST_F(TrayTest, WinesNotificationAreaTakesTheIconAndLetsItGo) {
  Journal::forwardToShell = true;
  frmMenu& menu = frmMenu::Instance();
  modTray::AddTrayIcon(menu);
  HWND h = menu.hWndIfLoaded();
  ASSERT_EQ(Journal::shellResults.size(), 1u);
  EXPECT_TRUE(Journal::shellResults[0]) << "Shell_NotifyIconW(NIM_ADD) failed";
  EXPECT_TRUE(ShellKnows(h, 88888));
  EXPECT_FALSE(ShellKnows(h, 88889));

  // A taskbar that lost its icons gets it back from the announcement.
  NOTIFYICONDATAW lost{};
  lost.cbSize = sizeof lost;
  lost.hWnd = h;
  lost.uID = 88888;
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &lost));
  EXPECT_FALSE(ShellKnows(h, 88888));
  ::SendMessageW(h, modTray::TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(ShellKnows(h, 88888));

  // While the tray form lives, the delete finds the icon.
  modTray::RemoveTrayIcon();
  ASSERT_EQ(Journal::shellResults.size(), 3u);
  EXPECT_TRUE(Journal::shellResults[1]);
  EXPECT_TRUE(Journal::shellResults[2]) << "Shell_NotifyIconW(NIM_DELETE) failed";
  EXPECT_FALSE(ShellKnows(h, 88888));

  // The exit path deletes it after closing the tray form. Wine's explorer
  // drops the icons of a destroyed window by itself as well, so the delete
  // may find nothing; the icon is gone either way.
  modTray::AddTrayIcon(menu);
  h = menu.hWndIfLoaded();
  ASSERT_TRUE(ShellKnows(h, 88888));
  HWND m = main.hWnd();
  modSubClass::HookMainWindow(m);
  ::SendMessageW(m, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(menu.IsLoaded());
  EXPECT_EQ(Journal::calls.back().first, static_cast<DWORD>(NIM_DELETE));
  EXPECT_FALSE(ShellKnows(h, 88888));
}

TEST_F(TrayTest, ANewTaskbarGetsTheIconBackWithoutTheBalloon) {
  frmMenu& menu = frmMenu::Instance();
  modTray::AddTrayIcon(menu);
  HWND h = menu.hWndIfLoaded();
  const NOTIFYICONDATAW first = Journal::calls.at(0).second;

  // The shell broadcasts the message to the top-level windows.
  ::SendMessageW(h, modTray::TaskbarCreatedMessage(), 0, 0);
  ASSERT_EQ(Journal::calls.size(), 2u);
  const auto& [message, again] = Journal::calls[1];
  EXPECT_EQ(message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(again.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_STATE));
  EXPECT_EQ(again.hWnd, first.hWnd);
  EXPECT_EQ(again.uID, first.uID);
  EXPECT_EQ(again.hIcon, first.hIcon);
  EXPECT_EQ(again.uCallbackMessage, first.uCallbackMessage);
  EXPECT_STREQ(again.szTip, first.szTip);
  EXPECT_EQ(modTray::TrayIconData.uFlags, 31u) << "the kept record is not changed";

  // Once removed, a new taskbar brings nothing back.
  modTray::RemoveTrayIcon();
  ::SendMessageW(h, modTray::TaskbarCreatedMessage(), 0, 0);
  EXPECT_EQ(Journal::calls.size(), 3u);
}

TEST_F(TrayTest, TheTrayFormIsAHiddenTopLevelWindowOfItsClassWithTheMenu) {
  frmMenu& menu = frmMenu::Instance();
  HWND h = menu.hWnd();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(::FindWindowW(L"velBoxMenu", nullptr), h);
  EXPECT_EQ(::GetAncestor(h, GA_PARENT), ::GetDesktopWindow());
  EXPECT_FALSE(::IsWindowVisible(h));
  EXPECT_EQ(::GetWindow(h, GW_OWNER), nullptr);

  HMENU m = menu.TrayMenu();
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(::GetMenuItemCount(m), 4);
  const wchar_t* texts[] = {L"显示主窗口", L"设置中心", nullptr, L"退出程序"};
  const UINT ids[] = {frmMenu::mnuShowMain, frmMenu::mnuOption, frmMenu::mnuLine1, frmMenu::mnuExit};
  for (UINT i = 0; i < 4; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
    ASSERT_TRUE(::GetMenuItemInfoW(m, i, TRUE, &info));
    EXPECT_EQ(info.wID, ids[i]);
    EXPECT_EQ(info.hSubMenu, nullptr);
    EXPECT_FALSE(info.fState & MFS_DEFAULT);
    if (!texts[i]) {
      EXPECT_TRUE(info.fType & MFT_SEPARATOR);
      continue;
    }
    EXPECT_FALSE(info.fState & (MFS_DISABLED | MFS_CHECKED));
    wchar_t text[64] = {};
    ::GetMenuStringW(m, i, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, texts[i]);
  }
  EXPECT_EQ(::GetMenuDefaultItem(m, TRUE, 0), static_cast<UINT>(-1));

  // The menu belongs to a load of the form.
  menu.Unload();
  EXPECT_EQ(menu.TrayMenu(), nullptr);
  EXPECT_EQ(::FindWindowW(L"velBoxMenu", nullptr), nullptr);
  EXPECT_NE(menu.hWnd(), nullptr);
  EXPECT_EQ(::GetMenuItemCount(menu.TrayMenu()), 4);
}

// --- window hook --------------------------------------------------------------

TEST_F(TrayTest, TheHookSitsInFrontOfTheFormsOwnProcedure) {
  HWND h = main.hWnd();
  const WNDPROC formProc = ProcOf(h);
  modSubClass::HookMainWindow(h);
  EXPECT_EQ(ProcOf(h), &modSubClass::MainWndProc);
  EXPECT_EQ(modSubClass::lpPrevWndProc, formProc);
  const LONG_PTR style = ::GetWindowLongPtrW(h, GWL_STYLE);
  EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX), WS_SYSMENU | WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_POPUP) << "the styles are added, not replaced";
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);

  // A second hook on the same window does not make it its own predecessor.
  modSubClass::HookMainWindow(h);
  EXPECT_EQ(modSubClass::lpPrevWndProc, formProc);

  // Everything else reaches the form, with its result.
  EXPECT_EQ(::SendMessageW(h, WM_APP + 7, 0, 0), 1);
  EXPECT_EQ(::SendMessageW(h, WM_APP + 7, 0, 0), 2);
  main.Show();
  ::SendMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(::IsIconic(h));
  EXPECT_EQ(main.sysCommands, std::vector<WPARAM>{SC_MINIMIZE});

  // Destroying the window gives it its own procedure back first.
  main.Unload();
  EXPECT_EQ(main.procAtUnload, formProc);
}

TEST_F(TrayTest, CloseToTrayHidesTheWindowAndKeepsEverything) {
  modTray::AddTrayIcon(frmMenu::Instance());
  HWND h = main.hWnd();
  modSubClass::HookMainWindow(h);
  main.Show();
  Journal::Clear();
  bCloseToTray = true;

  EXPECT_EQ(::SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
  EXPECT_TRUE(main.IsLoaded());
  EXPECT_FALSE(::IsWindowVisible(h));
  EXPECT_TRUE(main.sysCommands.empty()) << "the command goes no further";
  EXPECT_TRUE(frmMenu::Instance().IsLoaded());
  EXPECT_FALSE(frmProgramSet::Instance().IsLoaded());
  EXPECT_TRUE(Journal::calls.empty());
  EXPECT_TRUE(modTray::IsTrayIconWanted());

  // Only the exact command: one with its low bits set is the window's own,
  // and the close the window makes of it ends the client: the window never
  // goes while the client runs on.
  ::ShowWindow(h, SW_SHOW);
  ::SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE | 0x2, 0);
  EXPECT_EQ(main.sysCommands, std::vector<WPARAM>{SC_CLOSE | 0x2});
  EXPECT_FALSE(main.IsLoaded());
  EXPECT_FALSE(frmMenu::Instance().IsLoaded());
  EXPECT_EQ(Journal::events.back(), L"delete");
}

// Task Manager's "End task", taskkill and other programs send WM_CLOSE to
// the client's windows: whichever gets it, the client ends by the exit path,
// whatever close-to-tray says.
TEST_F(TrayTest, ACloseFromOutsideToAnyWindowEndsTheClient) {
  const std::vector<std::wstring> exitPath{L"close menu", L"destroy menu", L"close settings", L"destroy settings",
                                           L"close main", L"destroy main", L"delete"};
  for (const std::wstring target : {L"main", L"menu", L"settings"}) {
    for (bool closeToTray : {true, false}) {
      SCOPED_TRACE(::testing::Message() << std::string(target.begin(), target.end()) << " " << closeToTray);
      HWND h = Running();
      frmProgramSet::Instance().Load();  // as the tray's show command leaves it
      bCloseToTray = closeToTray;
      Journal::Clear();
      WatchClosing(h);
      HWND to = target == L"main" ? h : target == L"menu" ? frmMenu::Instance().hWndIfLoaded()
                                                          : frmProgramSet::Instance().hWndIfLoaded();
      EXPECT_EQ(::SendMessageW(to, WM_CLOSE, 0, 0), 0);
      std::vector<std::wstring> want{L"close " + target};
      want.insert(want.end(), exitPath.begin(), exitPath.end());
      EXPECT_EQ(Journal::events, want);
      EXPECT_EQ(win::Form::LoadedCount(), 0);
      ::UnhookWindowsHookEx(std::exchange(hook, nullptr));
    }
  }
}

// The end of the session: asked, the client agrees; told that the session
// goes on, it runs on; told that it ends, it takes the exit path and gives a
// file an update moved aside its name back before it answers, as the
// process may go any moment after.
TEST_F(TrayTest, TheSessionsEndEndsTheClientOnlyWhenItComes) {
  ASSERT_TRUE(testsupport::WriteFileBytes(folder / L"velBox.exe.12-34.old", "MZ"));
  HWND h = Running();
  Journal::Clear();
  for (HWND w : {frmMenu::Instance().hWndIfLoaded(), h}) {
    EXPECT_EQ(::SendMessageW(w, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    EXPECT_EQ(::SendMessageW(w, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF), 0);
  }
  EXPECT_TRUE(main.IsLoaded());
  EXPECT_TRUE(frmMenu::Instance().IsLoaded());
  EXPECT_TRUE(Journal::calls.empty());
  EXPECT_FALSE(testsupport::FileExists(folder / L"velBox.exe"));

  EXPECT_EQ(::SendMessageW(h, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF), 0);
  EXPECT_EQ(win::Form::LoadedCount(), 0);
  ASSERT_FALSE(Journal::calls.empty());
  EXPECT_EQ(Journal::calls.back().first, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(testsupport::ReadFileBytes(folder / L"velBox.exe"), "MZ");
}

TEST_F(TrayTest, ExitClosesMenuDialogAndMainInThisOrderThenRemovesTheIcon) {
  modTray::AddTrayIcon(frmMenu::Instance());
  HWND h = main.hWnd();
  modSubClass::HookMainWindow(h);
  main.Show();
  ASSERT_FALSE(frmProgramSet::Instance().IsLoaded());
  Journal::Clear();
  WatchClosing(h);

  EXPECT_EQ(::SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
  EXPECT_EQ(Journal::events, (std::vector<std::wstring>{L"close menu", L"destroy menu", L"close settings",
                                                        L"destroy settings", L"close main", L"destroy main",
                                                        L"delete"}));
  EXPECT_FALSE(main.IsLoaded());
  EXPECT_FALSE(frmMenu::Instance().IsLoaded());
  EXPECT_FALSE(frmProgramSet::Instance().IsLoaded());
  EXPECT_EQ(win::Form::LoadedCount(), 0);
  EXPECT_TRUE(main.sysCommands.empty()) << "nothing is passed on to a destroyed window";
  EXPECT_EQ(main.procAtUnload, modSubClass::lpPrevWndProc);
  // The dialog was loaded on the way out, and its load enforced the options
  // ("closetotray" is "1" in the file).
  EXPECT_TRUE(bCloseToTray);
  ASSERT_EQ(Journal::calls.size(), 1u);
  EXPECT_EQ(Journal::calls[0].first, static_cast<DWORD>(NIM_DELETE));
}

TEST_F(TrayTest, AMainWindowThatStaysGetsTheCommandPassedOn) {
  modTray::AddTrayIcon(frmMenu::Instance());
  HWND h = main.hWnd();
  modSubClass::HookMainWindow(h);
  main.refuseClose = true;
  Journal::Clear();

  ::SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(main.IsLoaded());
  EXPECT_EQ(main.sysCommands, std::vector<WPARAM>{SC_CLOSE});
  EXPECT_FALSE(frmMenu::Instance().IsLoaded());
  EXPECT_FALSE(frmProgramSet::Instance().IsLoaded());
  ASSERT_EQ(Journal::calls.size(), 1u);
  EXPECT_EQ(Journal::calls[0].first, static_cast<DWORD>(NIM_DELETE));
}

// --- with the real main window ---------------------------------------------------

HWND FindShownPopupMenu() {
  HWND found = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND h, LPARAM out) -> BOOL {
        wchar_t cls[16] = {};
        ::GetClassNameW(h, cls, 16);
        if (std::wstring(cls) == L"#32768" && ::IsWindowVisible(h)) {
          *reinterpret_cast<HWND*>(out) = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

class MainTrayTest : public TrayTest {
 protected:
  void SetUp() override {
    TrayTest::SetUp();
    f.Show();
    ASSERT_TRUE(f.IsLoaded());
    ASSERT_TRUE(win::WaitWithMessages(10000, [&] { return f.bActivated && f.WebBrowser1.IsCreated(); }));
    h = f.hWnd();
    menu = frmMenu::Instance().hWndIfLoaded();
    ASSERT_NE(menu, nullptr) << "the main window's load loads the tray form";
  }
  void TearDown() override {
    f.Unload();
    // The next test finds the window object as a fresh start would.
    f.bActivated = false;
    f.m_strOpenNet.clear();
    TrayTest::TearDown();
  }
  // As the shell delivers the icon's messages.
  void Tray(LPARAM mouseMessage) { ::SendMessageW(menu, WM_MOUSEMOVE, 88888, mouseMessage); }
  // A hidden start at log-on, as the first activation leaves it.
  void AsIfStartedHidden() {
    f.m_strOpenNet = L"about:blank";
    f.SetVisible(false);
    f.SetWindowState(win::Form::kNormal);
  }

  frmMain& f = frmMain::Instance();
  HWND h = nullptr;
  HWND menu = nullptr;
};

TEST_F(MainTrayTest, ItsLoadAddsTheIconForTheTrayFormAndHooksTheWindow) {
  ASSERT_FALSE(Journal::calls.empty());
  const auto& [message, d] = Journal::calls[0];
  EXPECT_EQ(message, static_cast<DWORD>(NIM_ADD));
  EXPECT_EQ(d.hWnd, menu);
  EXPECT_NE(d.hIcon, nullptr);
  EXPECT_EQ(d.hIcon, f.imgTray());
  EXPECT_EQ(ProcOf(h), &modSubClass::MainWndProc);
  EXPECT_TRUE(::GetWindowLongPtrW(h, GWL_STYLE) & WS_MINIMIZEBOX);
  EXPECT_FALSE(::IsWindowVisible(menu));
}

TEST_F(MainTrayTest, TheShowCommandAsksTheDialogAndLeavesTheWindowWhileItIsShown) {
  frmProgramSet& dialog = frmProgramSet::Instance();
  AsIfStartedHidden();
  frmMenu::Instance().mnuShowMain_Click();
  EXPECT_TRUE(::IsWindowVisible(h));
  EXPECT_EQ(f.WindowState(), win::Form::kNormal);
  // Asking whether the dialog is shown loaded it, hidden.
  EXPECT_TRUE(dialog.IsLoaded());
  EXPECT_FALSE(::IsWindowVisible(dialog.hWndIfLoaded()));

  dialog.SetVisible(true);
  Tray(0x203);
  EXPECT_TRUE(::IsWindowVisible(h));
  EXPECT_FALSE(::IsIconic(h));
  // The navigation still happens.
  AsIfStartedHidden();
  Tray(0x203);
  EXPECT_EQ(f.m_strOpenNet, win::W(product::MusicNoAutoplay()));
  EXPECT_FALSE(::IsWindowVisible(h));
}

// Hidden to the tray while the screens changed (the monitor it was on went
// away): shown again by the tray icon, it comes back inside a work area,
// title strip and all, at its size.
TEST_F(MainTrayTest, ShownAgainAfterItsMonitorWentItComesBackInsideAWorkArea) {
  RECT before;
  ::GetWindowRect(h, &before);
  f.SetVisible(false);
  // Where a monitor right of and above this one was.
  ::SetWindowPos(h, nullptr, 6000, -4000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Tray(0x203);
  ASSERT_TRUE(::IsWindowVisible(h));
  RECT rc;
  ::GetWindowRect(h, &rc);
  const skin::PixelRect work = skin::SkinForm::WorkAreaOf(h);
  EXPECT_GE(rc.left, work.left);
  EXPECT_GE(rc.top, work.top);
  EXPECT_LE(rc.right, work.right);
  EXPECT_LE(rc.bottom, work.bottom);
  EXPECT_EQ(rc.right - rc.left, before.right - before.left);
  EXPECT_EQ(rc.bottom - rc.top, before.bottom - before.top);
}

TEST_F(MainTrayTest, ARightPressOpensTheMenuFromTheForeground) {
  HWND shown = nullptr;
  HWND foreground = nullptr;
  // Inside the menu's own loop: look, then end it.
  win::FormTimer look(
      frmMenu::Instance(),
      [&] {
        if (shown) return;
        shown = FindShownPopupMenu();
        foreground = ::GetForegroundWindow();
        if (shown) ::EndMenu();
      },
      100);
  look.SetEnabled(true);
  win::FormTimer guard(frmMenu::Instance(), [] { ::EndMenu(); }, 5000);
  guard.SetEnabled(true);
  Tray(0x204);
  EXPECT_NE(shown, nullptr) << "no pop-up menu";
  EXPECT_EQ(foreground, menu);
  MSG m;
  EXPECT_TRUE(::PeekMessageW(&m, menu, WM_NULL, WM_NULL, PM_REMOVE)) << "WM_NULL after the menu";
  EXPECT_TRUE(f.IsLoaded());
}

TEST_F(MainTrayTest, TheInstallersRequestIsAnsweredFirstAndThenExitsInOrder) {
  const std::string before = testsupport::ReadFileBytes(folder / L"cfg.xml");
  bCloseToTray = true;
  Journal::Clear();
  WatchClosing(h);
  EXPECT_EQ(::SendMessageW(menu, frmMenu::kExitRequest, 0, 0), 1);
  EXPECT_TRUE(f.IsLoaded()) << "the exit does not run inside the request";
  EXPECT_TRUE(win::WaitWithMessages(20000, [&] { return !f.IsLoaded(); }));
  EXPECT_EQ(Journal::events, (std::vector<std::wstring>{L"close menu", L"destroy menu", L"close settings",
                                                        L"destroy settings", L"close main", L"destroy main",
                                                        L"delete"}));
  EXPECT_EQ(win::Form::LoadedCount(), 0);
  EXPECT_EQ(testsupport::ReadFileBytes(folder / L"cfg.xml"), before);
}

TEST_F(MainTrayTest, AnExitWhileTheDialogIsOpenEndsItsModalLoopToo) {
  frmProgramSet& dialog = frmProgramSet::Instance();
  ::PostMessageW(menu, frmMenu::kExitRequest, 0, 0);
  // Should the exit not come, the dialog still ends.
  win::FormTimer guard(dialog, [&] { dialog.Unload(); }, 5000);
  guard.SetEnabled(true);
  Journal::Clear();
  frmMenu::Instance().mnuOption_Click();  // returns when the dialog is gone
  EXPECT_FALSE(f.IsLoaded());
  EXPECT_FALSE(dialog.IsLoaded());
  EXPECT_FALSE(frmMenu::Instance().IsLoaded());
  ASSERT_FALSE(Journal::calls.empty());
  EXPECT_EQ(Journal::calls.back().first, static_cast<DWORD>(NIM_DELETE));
}

}  // namespace
