#include "client/mainwindow/firststart.h"

#include "client/mainwindow/browserhost.h"
#include "client/mainwindow/firststartlogic.h"
#include "client/mainwindow/timings.h"
#include "common/product.h"
#include "common/win/files.h"
#include "common/win/form.h"
#include "common/win/installation.h"
#include "common/win/msgloop.h"
#include "common/win/owners.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"

namespace firststart {

// ---------------------------------------------------------------------------
// First-start notice

void HostedNoticeBrowser::Navigate(const std::wstring& url) {
  if (!host_.IsCreated() && create_) create_();
  host_.Navigate(url);
}
bool HostedNoticeBrowser::IsTopLevel(IDispatch* pDisp) const { return host_.IsTopLevel(pDisp); }
std::wstring HostedNoticeBrowser::BodyText() const { return host_.BodyText(); }

namespace {

class SteadyWaitClock final : public WaitClock {
 public:
  std::chrono::steady_clock::time_point Now() override { return std::chrono::steady_clock::now(); }
  void SleepUntilMessage(std::chrono::milliseconds atMost) override {
    // MWMO_INPUTAVAILABLE also wakes for input that was seen but not yet
    // removed, so nothing that is already queued is slept over.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(atMost.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
};

}  // namespace

WaitClock& SystemWaitClock() {
  static SteadyWaitClock clock;
  return clock;
}

bool WaitForConfirmation(const bool& bCountOk, WaitClock& clock, std::chrono::milliseconds limit) {
  const auto start = clock.Now();
  for (;;) {
    if (bCountOk) return true;
    // The browsers, the timer and the user are served here; the
    // confirmation itself arrives as a browser event.
    if (!win::DoEvents()) return bCountOk;  // the client is ending
    if (bCountOk) return true;
    const auto left = RemainingWait(start, clock.Now(), limit);
    if (left <= std::chrono::milliseconds::zero()) return false;
    clock.SleepUntilMessage(left);
  }
}

Notice CheckFirstStart(NoticeBrowser& webBrowser2, const bool& bCountOk, WaitClock& clock) {
  // The value is read and written where the entry is: this installation's
  // own, under HKEY_CURRENT_USER, decides over one an old machine-wide
  // installation left (which this user may not be able to write).
  win::UniqueKey key;
  const HKEY root = win::OpenUninstallKey(KEY_READ, key);
  if (!root) return Notice::kNoUninstallKey;
  // Only the value's presence matters: ask without reading its data.
  DWORD size = 0;
  if (::RegQueryValueExW(key.get(), kFirstStartValue, nullptr, nullptr, nullptr, &size) != ERROR_FILE_NOT_FOUND)
    return Notice::kAlreadyRecorded;
  key.reset();

  webBrowser2.Navigate(win::W(product::StatisticsAddress()));
  if (!WaitForConfirmation(bCountOk, clock, timings::kNoticeWait)) return Notice::kUnconfirmed;

  win::UniqueKey writable;
  if (::RegCreateKeyExW(root, win::W(product::kUninstallKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                        nullptr, writable.put(), nullptr) != ERROR_SUCCESS)
    return Notice::kNotRecorded;  // machine-wide it needs administrative rights; sent again next time
  static constexpr wchar_t kOne[] = L"1";
  if (::RegSetValueExW(writable.get(), kFirstStartValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOne),
                       sizeof kOne) != ERROR_SUCCESS)
    return Notice::kNotRecorded;
  return Notice::kRecorded;
}

void WebBrowser2_DocumentComplete(const NoticeBrowser& webBrowser2, IDispatch* pDisp, const std::wstring& url,
                                  bool& bCountOk) {
  if (!IsStatisticsAnswer(webBrowser2.IsTopLevel(pDisp), win::U(url), product::StatisticsAddress())) return;
  if (ConfirmsCount(win::U(webBrowser2.BodyText()))) bCountOk = true;
}

// ---------------------------------------------------------------------------
// Updater start

std::wstring UpdaterPath() { return win::AppFile(win::W(product::kUpdaterFile)); }

bool StartUpdater(const std::wstring& path) {
  // The program's name alone: no arguments.
  std::wstring commandLine = L"\"" + path + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  // Not waited for.
  win::UniqueHandle process(pi.hProcess);
  win::UniqueHandle thread(pi.hThread);
  return true;
}

bool Timer1_Timer(std::int16_t& nTick, bool& bUpdaterStarted, win::FormTimer& timer, const UpdaterStarter& start) {
  nTick = CountTick(nTick);
  const std::wstring path = UpdaterPath();
  if (!ShouldStartUpdater(nTick, win::IsNormalFile(path), bUpdaterStarted)) return false;
  timer.SetEnabled(false);
  bUpdaterStarted = true;
  if (start) start(path);
  return true;
}

}  // namespace firststart
