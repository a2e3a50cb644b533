// The first-start notice against the real registry of the test prefix (32-bit
// view), with browser events injected as window messages and an injected
// clock, and the timer's start of the updater.
#include "client/mainwindow/firststart.h"
#include "client/mainwindow/firststartlogic.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <functional>
#include <optional>
#include <vector>

#include "common/product.h"
#include "common/win/form.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#include "common/win/winstr.h"
#include "tests/support/testsupport.h"

namespace firststart {
namespace {

const wchar_t* UninstallKey() {
  static const std::wstring key = win::W(product::kUninstallKey);
  return key.c_str();
}

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// ---------------------------------------------------------------------------
// Registry of the test prefix

struct StoredValue {
  DWORD type = 0;
  std::vector<BYTE> data;
};

HKEY OpenKey(REGSAM view, REGSAM access = KEY_READ, HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, UninstallKey(), 0, access | view, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

std::optional<StoredValue> ReadFirstStart(REGSAM view = KEY_WOW64_32KEY, HKEY root = HKEY_LOCAL_MACHINE) {
  win::UniqueKey key(OpenKey(view, KEY_READ, root));
  if (!key) return std::nullopt;
  StoredValue v;
  DWORD size = 0;
  if (::RegQueryValueExW(key.get(), kFirstStartValue, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  v.data.resize(size);
  if (size && ::RegQueryValueExW(key.get(), kFirstStartValue, nullptr, &v.type, v.data.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  v.data.resize(size);
  return v;
}

bool CreateUninstallKey(REGSAM view = KEY_WOW64_32KEY, HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(root, UninstallKey(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  ::RegCloseKey(key);
  return true;
}

void DeleteUninstallKey(REGSAM view = KEY_WOW64_32KEY, HKEY root = HKEY_LOCAL_MACHINE) {
  ::RegDeleteKeyExW(root, UninstallKey(), view, 0);
}

bool SetFirstStart(const StoredValue& v, HKEY root = HKEY_LOCAL_MACHINE) {
  win::UniqueKey key(OpenKey(KEY_WOW64_32KEY, KEY_SET_VALUE, root));
  return key && ::RegSetValueExW(key.get(), kFirstStartValue, 0, v.type, v.data.data(),
                                 static_cast<DWORD>(v.data.size())) == ERROR_SUCCESS;
}

void DeleteFirstStart() {
  win::UniqueKey key(OpenKey(KEY_WOW64_32KEY, KEY_SET_VALUE));
  if (key) ::RegDeleteValueW(key.get(), kFirstStartValue);
}

// ---------------------------------------------------------------------------
// Stand-ins for the hidden browser and the clock

// The hidden browser; a document completes when its event message is
// handled, as the control's events arrive through the message loop.
class FakeBrowser final : public NoticeBrowser {
 public:
  FakeBrowser() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &FakeBrowser::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"velFakeBrowserEvents";
    ::RegisterClassW(&wc);
    hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
  }
  ~FakeBrowser() { ::DestroyWindow(hwnd_); }

  void Navigate(const std::wstring& url) override { navigations.push_back(url); }
  bool IsTopLevel(IDispatch* pDisp) const override { return pDisp == TopLevel(); }
  std::wstring BodyText() const override { return body; }

  IDispatch* TopLevel() const { return reinterpret_cast<IDispatch*>(const_cast<int*>(&topLevelObject_)); }
  IDispatch* Frame() const { return reinterpret_cast<IDispatch*>(const_cast<int*>(&frameObject_)); }

  // Posts the completion of a document; `bCountOk` is the form's flag.
  void PostDocumentComplete(IDispatch* pDisp, std::wstring url, std::wstring bodyText, bool& bCountOk) {
    pending_.push_back([this, pDisp, url = std::move(url), bodyText = std::move(bodyText), &bCountOk] {
      body = bodyText;
      ++completions;
      WebBrowser2_DocumentComplete(*this, pDisp, url, bCountOk);
    });
    ::PostMessageW(hwnd_, WM_APP, 0, 0);
  }

  std::vector<std::wstring> navigations;
  std::wstring body;
  int completions = 0;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<FakeBrowser*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_APP && self && !self->pending_.empty()) {
      auto f = std::move(self->pending_.front());
      self->pending_.erase(self->pending_.begin());
      f();
      return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
  }

  HWND hwnd_ = nullptr;
  int topLevelObject_ = 0;
  int frameObject_ = 0;
  std::vector<std::function<void()>> pending_;
};

// A clock that moves only when the wait sleeps. Each sleep lasts `step` (or
// what was asked, when shorter), and `atTime` runs once the clock reaches
// its time.
class FakeClock final : public WaitClock {
 public:
  steady_clock::time_point Now() override {
    ++reads;
    return now;
  }
  void SleepUntilMessage(milliseconds atMost) override {
    asked.push_back(atMost);
    const milliseconds slept = step && *step < atMost ? *step : atMost;
    now += slept;
    if (atTime && now - start >= atTime->first) {
      auto f = std::move(atTime->second);
      atTime.reset();
      f();
    }
  }
  milliseconds Elapsed() const { return std::chrono::duration_cast<milliseconds>(now - start); }

  const steady_clock::time_point start{std::chrono::hours(100)};
  steady_clock::time_point now = start;
  std::optional<milliseconds> step;
  std::optional<std::pair<milliseconds, std::function<void()>>> atTime;
  std::vector<milliseconds> asked;
  int reads = 0;
};

bool TakeQuit() {
  MSG m;
  return ::PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

// ---------------------------------------------------------------------------
// The notice

class FirstStartNotice : public ::testing::Test {
 protected:
  void SetUp() override {
    win::UniqueKey before(OpenKey(KEY_WOW64_32KEY));
    keyExisted_ = static_cast<bool>(before);
    before.reset();
    saved_ = ReadFirstStart();
    DeleteFirstStart();
    // A per-user installation's entry is put aside whole (only "FirstStart"
    // comes back with it).
    win::UniqueKey user(OpenKey(KEY_WOW64_32KEY, KEY_READ, HKEY_CURRENT_USER));
    userKeyExisted_ = static_cast<bool>(user);
    user.reset();
    userSaved_ = ReadFirstStart(KEY_WOW64_32KEY, HKEY_CURRENT_USER);
    DeleteUninstallKey(KEY_WOW64_32KEY, HKEY_CURRENT_USER);
    win::DoEvents();
  }
  void TearDown() override {
    if (!keyExisted_) {
      DeleteUninstallKey();
    } else if (saved_) {
      SetFirstStart(*saved_);
    } else {
      DeleteFirstStart();
    }
    DeleteUninstallKey(KEY_WOW64_32KEY, HKEY_CURRENT_USER);
    if (userKeyExisted_) {
      CreateUninstallKey(KEY_WOW64_32KEY, HKEY_CURRENT_USER);
      if (userSaved_) SetFirstStart(*userSaved_, HKEY_CURRENT_USER);
    }
    TakeQuit();
  }

  Notice Check() { return CheckFirstStart(browser, bCountOk, clock); }
  std::wstring Address() const { return win::W(product::StatisticsAddress()); }
  void AnswerAt(milliseconds t, IDispatch* pDisp, std::wstring url, std::wstring body) {
    clock.atTime.emplace(t, [=, this] { browser.PostDocumentComplete(pDisp, url, body, bCountOk); });
  }

  FakeBrowser browser;
  FakeClock clock;
  bool bCountOk = false;

 private:
  bool keyExisted_ = false;
  std::optional<StoredValue> saved_;
  bool userKeyExisted_ = false;
  std::optional<StoredValue> userSaved_;
};

TEST_F(FirstStartNotice, ConfirmedAnswerWritesTheValueOnceAndTheNextStartSendsNothing) {
  ASSERT_TRUE(CreateUninstallKey());
  clock.step = milliseconds(500);
  AnswerAt(milliseconds(2000), browser.TopLevel(), Address(), L"<counted>\r\nOK");

  EXPECT_EQ(Check(), Notice::kRecorded);
  EXPECT_TRUE(bCountOk);
  ASSERT_EQ(browser.navigations.size(), 1u);
  EXPECT_EQ(browser.navigations[0], Address());
  EXPECT_EQ(browser.navigations[0].substr(0, 7), L"http://");
  // The wait ended with the answer, long before its 10 seconds.
  EXPECT_EQ(clock.Elapsed(), milliseconds(2000));

  const auto v = ReadFirstStart();
  ASSERT_TRUE(v);
  EXPECT_EQ(v->type, static_cast<DWORD>(REG_SZ));
  const std::vector<BYTE> one{'1', 0, 0, 0};  // L"1" and its terminating zero
  EXPECT_EQ(v->data, one);
  // In the installer's view only.
  EXPECT_FALSE(ReadFirstStart(KEY_WOW64_64KEY));

  bool again = false;
  FakeBrowser second;
  FakeClock secondClock;
  EXPECT_EQ(CheckFirstStart(second, again, secondClock), Notice::kAlreadyRecorded);
  EXPECT_TRUE(second.navigations.empty());
  EXPECT_EQ(secondClock.reads, 0);
}

TEST_F(FirstStartNotice, AnswersThatDoNotConfirmLeaveTheValueAwayAfterTenSeconds) {
  struct Case {
    const char* what;
    bool topLevel;
    std::wstring url;
    std::wstring body;
  };
  const std::wstring redirect = L"http://" + win::W(buildinfo::kUpdateHost) + L"/login?from=count";
  std::wstring upper = Address();
  for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  const std::vector<Case> cases{
      {"lower-case ok", true, Address(), L"ok"},
      {"a frame of the page", false, Address(), L"OK"},
      {"another address", true, redirect, L"OK"},
      {"the address in other letter case", true, upper, L"OK"},
      {"an empty page", true, Address(), L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteUninstallKey();
    ASSERT_TRUE(CreateUninstallKey());
    FakeBrowser b;
    FakeClock k;
    bool ok = false;
    k.step = milliseconds(700);
    k.atTime.emplace(milliseconds(1400), [&] { b.PostDocumentComplete(c.topLevel ? b.TopLevel() : b.Frame(), c.url, c.body, ok); });
    EXPECT_EQ(CheckFirstStart(b, ok, k), Notice::kUnconfirmed);
    EXPECT_EQ(b.completions, 1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(k.Elapsed(), milliseconds(10000));
    EXPECT_FALSE(ReadFirstStart());
  }
}

TEST_F(FirstStartNotice, NoAnswerEndsTheWaitAfterTenSecondsWithoutSpinning) {
  ASSERT_TRUE(CreateUninstallKey());
  // Woken every 1.5 s by other messages: each sleep asks for all that is
  // left, never more, and the wait stops right at 10 s.
  clock.step = milliseconds(1500);
  EXPECT_EQ(Check(), Notice::kUnconfirmed);
  EXPECT_EQ(clock.Elapsed(), milliseconds(10000));
  const std::vector<milliseconds> asked{milliseconds(10000), milliseconds(8500), milliseconds(7000),
                                        milliseconds(5500),  milliseconds(4000), milliseconds(2500),
                                        milliseconds(1000)};
  EXPECT_EQ(clock.asked, asked);
  EXPECT_FALSE(ReadFirstStart());
  EXPECT_EQ(browser.navigations.size(), 1u);

  // Not woken at all: a single sleep of the whole wait.
  FakeClock quiet;
  bool ok = false;
  EXPECT_FALSE(WaitForConfirmation(ok, quiet, kConfirmationWait));
  EXPECT_EQ(quiet.asked, std::vector<milliseconds>{milliseconds(10000)});
}

TEST_F(FirstStartNotice, NothingIsSentWithoutTheKeyOrWithTheValueInPlace) {
  DeleteUninstallKey();
  EXPECT_EQ(Check(), Notice::kNoUninstallKey);
  // The other registry view is not the installer's.
  ASSERT_TRUE(CreateUninstallKey(KEY_WOW64_64KEY));
  EXPECT_EQ(Check(), Notice::kNoUninstallKey);
  DeleteUninstallKey(KEY_WOW64_64KEY);
  EXPECT_FALSE(OpenKey(KEY_WOW64_32KEY));  // and nothing was created

  // Only the presence of "FirstStart" counts, whatever it holds.
  ASSERT_TRUE(CreateUninstallKey());
  const std::vector<StoredValue> present{{REG_SZ, {'0', 0, 0, 0}}, {REG_SZ, {}}, {REG_DWORD, {0, 0, 0, 0}},
                                         {REG_BINARY, std::vector<BYTE>(4096, 7)}};
  for (const auto& v : present) {
    ASSERT_TRUE(SetFirstStart(v));
    EXPECT_EQ(Check(), Notice::kAlreadyRecorded);
    EXPECT_EQ(ReadFirstStart()->data, v.data);  // left as it was
  }
  EXPECT_TRUE(browser.navigations.empty());
  EXPECT_EQ(clock.reads, 0);
}

TEST_F(FirstStartNotice, TheUsersOwnEntryDecidesAndAMachineWideOneOnlyWithoutIt) {
  DeleteUninstallKey();
  ASSERT_TRUE(CreateUninstallKey(KEY_WOW64_32KEY, HKEY_CURRENT_USER));
  clock.step = milliseconds(500);
  AnswerAt(milliseconds(1000), browser.TopLevel(), Address(), L"OK");
  EXPECT_EQ(Check(), Notice::kRecorded);
  const auto v = ReadFirstStart(KEY_WOW64_32KEY, HKEY_CURRENT_USER);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->data, (std::vector<BYTE>{'1', 0, 0, 0}));
  EXPECT_FALSE(OpenKey(KEY_WOW64_32KEY));  // nothing machine-wide

  // A machine-wide entry an old installation left (which this user may not
  // write) does not make the notice go out at every start.
  ASSERT_TRUE(CreateUninstallKey());
  bool again = false;
  FakeBrowser second;
  FakeClock secondClock;
  EXPECT_EQ(CheckFirstStart(second, again, secondClock), Notice::kAlreadyRecorded);
  EXPECT_TRUE(second.navigations.empty());
  EXPECT_FALSE(ReadFirstStart());

  // Without an entry of the user's, the machine-wide one is read and written.
  DeleteUninstallKey(KEY_WOW64_32KEY, HKEY_CURRENT_USER);
  FakeBrowser third;
  FakeClock thirdClock;
  bool ok = false;
  thirdClock.step = milliseconds(500);
  thirdClock.atTime.emplace(milliseconds(500), [&] { third.PostDocumentComplete(third.TopLevel(), Address(), L"OK", ok); });
  EXPECT_EQ(CheckFirstStart(third, ok, thirdClock), Notice::kRecorded);
  EXPECT_TRUE(ReadFirstStart());
  EXPECT_FALSE(OpenKey(KEY_WOW64_32KEY, KEY_READ, HKEY_CURRENT_USER));
}

// ---------------------------------------------------------------------------
// The updater start

// A form with the main window's timer, ticking fast.
class TimerForm : public win::Form {
 public:
  std::int16_t nTick = 0;
  bool bUpdaterStarted = false;
  std::vector<std::pair<int, std::wstring>> starts;  // (tick count, path)
  int ticks = 0;
  win::FormTimer Timer1{*this, [this] { Timer1_Timer(); }, 15};

 protected:
  void DescribeWindow(win::FormWindowSpec& s) override {
    s.title = L"timer test";
    s.style = WS_POPUP;
    s.width = 10;
    s.height = 10;
  }
  void Form_Load() override { Timer1.SetEnabled(true); }

 private:
  void Timer1_Timer() {
    ++ticks;
    firststart::Timer1_Timer(nTick, bUpdaterStarted, Timer1, [this](const std::wstring& path) {
      starts.emplace_back(ticks, path);
      return true;
    });
  }
};

class UpdaterStart : public ::testing::Test {
 protected:
  void SetUp() override {
    win::Form::SetEndWhenNoneLoaded(false);
    updater = dir / L"velUpdate.exe";
  }
  void TearDown() override {
    form.Unload();
    win::Form::SetEndWhenNoneLoaded(true);
    TakeQuit();
  }
  // Handles messages until `ticks` ticks have passed (or 20 s, which only
  // a badly loaded machine comes near).
  void RunTicks(int ticks) {
    const int until = form.ticks + ticks;
    win::WaitWithMessages(20000, [&] { return form.ticks >= until || !form.Timer1.Enabled(); });
  }

  testsupport::TempDir dir;
  testsupport::AppFolderScope scope{dir.path()};
  std::wstring updater;
  TimerForm form;
};

TEST_F(UpdaterStart, PresentFromTheStartItStartsOnceAtTheFifteenthTickAndTheTimerStops) {
  ASSERT_TRUE(testsupport::WriteFileBytes(updater, "MZ"));
  EXPECT_EQ(UpdaterPath(), dir.path() + L"\\velUpdate.exe");
  form.Load();
  RunTicks(40);
  ASSERT_EQ(form.starts.size(), 1u);
  EXPECT_EQ(form.starts[0].first, 15);
  EXPECT_EQ(form.starts[0].second, updater);
  EXPECT_FALSE(form.Timer1.Enabled());
  EXPECT_TRUE(form.bUpdaterStarted);
  // Nothing more comes, even if the timer were enabled again.
  form.Timer1.SetEnabled(true);
  RunTicks(5);
  EXPECT_EQ(form.starts.size(), 1u);
  EXPECT_EQ(form.nTick, 15);
}

TEST_F(UpdaterStart, MissingOrNotNormalFilesAreLookedForEachTickUntilARealOneAppears) {
  form.Load();
  RunTicks(20);
  EXPECT_TRUE(form.starts.empty());
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_EQ(form.nTick, 15);

  // A folder of that name, then a hidden and a system file.
  ASSERT_TRUE(::CreateDirectoryW(updater.c_str(), nullptr));
  RunTicks(4);
  ASSERT_TRUE(::RemoveDirectoryW(updater.c_str()));
  ASSERT_TRUE(testsupport::WriteFileBytes(updater, "MZ"));
  for (DWORD attrs : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM}}) {
    ASSERT_TRUE(::SetFileAttributesW(updater.c_str(), attrs));
    RunTicks(4);
  }
  EXPECT_TRUE(form.starts.empty());
  EXPECT_TRUE(form.Timer1.Enabled());

  // Read-only is still a normal file: started at the next tick.
  ASSERT_TRUE(::SetFileAttributesW(updater.c_str(), FILE_ATTRIBUTE_READONLY));
  const int before = form.ticks;
  RunTicks(10);
  ::SetFileAttributesW(updater.c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_EQ(form.starts.size(), 1u);
  EXPECT_EQ(form.starts[0].first, before + 1);
  EXPECT_FALSE(form.Timer1.Enabled());
}

TEST_F(UpdaterStart, AFailedStartIsNotTriedAgain) {
  ASSERT_TRUE(testsupport::WriteFileBytes(updater, "not a program"));
  std::int16_t nTick = 14;
  bool started = false;
  win::FormTimer& timer = form.Timer1;
  form.Load();
  EXPECT_TRUE(Timer1_Timer(nTick, started, timer));  // the real start, which fails
  EXPECT_TRUE(started);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(Timer1_Timer(nTick, started, timer));
  EXPECT_FALSE(StartUpdater(updater));
  EXPECT_FALSE(StartUpdater(dir / L"nothing.exe"));
}

}  // namespace
}  // namespace firststart
