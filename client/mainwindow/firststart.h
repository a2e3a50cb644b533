// Two background duties of the main window: the notice to the update
// server's statistics page at the first start of an installation, and the
// delayed start of the updater by the window's one-second timer. The form
// keeps the state (bCountOk, nTick); these procedures work on it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

class BrowserHost;
namespace win {
class FormTimer;
}

namespace firststart {

// Written in the installation's uninstall entry (product::kUninstallKey).
inline constexpr wchar_t kFirstStartValue[] = L"FirstStart";

// ---------------------------------------------------------------------------
// First-start notice

// What the notice uses of the hidden browser (WebBrowser2).
class NoticeBrowser {
 public:
  virtual void Navigate(const std::wstring& url) = 0;
  virtual bool IsTopLevel(IDispatch* pDisp) const = 0;
  virtual std::wstring BodyText() const = 0;

 protected:
  ~NoticeBrowser() = default;
};

// The hidden browser of the main window. It exists only while the notice
// is due: `create` makes it when it is first told an address.
class HostedNoticeBrowser final : public NoticeBrowser {
 public:
  explicit HostedNoticeBrowser(BrowserHost& host, std::function<void()> create = {})
      : host_(host), create_(std::move(create)) {}
  void Navigate(const std::wstring& url) override;
  bool IsTopLevel(IDispatch* pDisp) const override;
  std::wstring BodyText() const override;

 private:
  BrowserHost& host_;
  std::function<void()> create_;
};

// Time for the wait. The system one reads the steady clock and sleeps in
// MsgWaitForMultipleObjectsEx; tests drive both by hand.
class WaitClock {
 public:
  virtual std::chrono::steady_clock::time_point Now() = 0;
  // Returns when a message arrives for the thread or `atMost` has passed,
  // whichever comes first.
  virtual void SleepUntilMessage(std::chrono::milliseconds atMost) = 0;

 protected:
  ~WaitClock() = default;
};
WaitClock& SystemWaitClock();

// Handles the thread's messages until `bCountOk` is set or `limit` has
// passed by `clock` (or the client is ending: WM_QUIT). Sleeps whenever no
// message is waiting. Returns bCountOk.
bool WaitForConfirmation(const bool& bCountOk, WaitClock& clock, std::chrono::milliseconds limit);

enum class Notice {
  kNoUninstallKey,   // key missing or unreadable in both places: nothing sent
  kAlreadyRecorded,  // "FirstStart" is there (or cannot be examined): nothing sent
  kUnconfirmed,      // sent, no confirmation within the wait: nothing written
  kRecorded,         // confirmed and "FirstStart" written
  kNotRecorded,      // confirmed, but the key could not be written
};

// At the first activation of the main window, after WebBrowser1 got its
// address. On a first start this waits up to 10 seconds, handling messages.
Notice CheckFirstStart(NoticeBrowser& webBrowser2, const bool& bCountOk, WaitClock& clock = SystemWaitClock());

// WebBrowser2's DocumentComplete: sets bCountOk on the statistics page's
// confirmation; never clears it.
void WebBrowser2_DocumentComplete(const NoticeBrowser& webBrowser2, IDispatch* pDisp, const std::wstring& url,
                                  bool& bCountOk);

// ---------------------------------------------------------------------------
// Updater start

// The client's folder followed by "\velUpdate.exe".
std::wstring UpdaterPath();

// Starts `path` as a separate process without arguments, asking for a
// hidden window, and lets go of it at once. False when it could not start.
bool StartUpdater(const std::wstring& path);

using UpdaterStarter = std::function<bool(const std::wstring& path)>;

// One tick of Timer1. At the 15th tick, or the first later one at which the
// updater file exists as a normal file, disables `timer` and starts the
// updater; `bUpdaterStarted` keeps it to once per run, even when the start
// failed. Returns true on the tick that tried to start it.
bool Timer1_Timer(std::int16_t& nTick, bool& bUpdaterStarted, win::FormTimer& timer,
                  const UpdaterStarter& start = StartUpdater);

}  // namespace firststart
