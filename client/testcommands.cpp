#include "client/testcommands.h"

#include <urlmon.h>

#include <cwchar>
#include <deque>
#include <string>

#include "client/mainwindow/browserhost_testing.h"
#include "client/mainwindow/frmMain.h"

namespace testcommands {

namespace {

enum : ULONG_PTR { kFeatureOn = 1, kNavigate = 2, kKeysOffered = 3, kAt = 4 };

// Addresses to open, after the sender's SendMessage has returned: the
// events of a navigation may call out of the process.
constexpr UINT kRunNavigate = WM_APP + 1;
std::deque<std::wstring> g_pending;

std::wstring Argument(const COPYDATASTRUCT& data) {
  if (!data.lpData) return {};
  return std::wstring(static_cast<const wchar_t*>(data.lpData), data.cbData / sizeof(wchar_t));
}

LRESULT Run(HWND self, const COPYDATASTRUCT& data) {
  frmMain& f = frmMain::Instance();
  const std::wstring arg = Argument(data);
  switch (data.dwData) {
    case kFeatureOn: {
      const auto feature = static_cast<INTERNETFEATURELIST>(std::wcstol(arg.c_str(), nullptr, 10));
      return ::CoInternetIsFeatureEnabled(feature, GET_FEATURE_FROM_PROCESS) == S_OK ? 1 : 0;
    }
    case kNavigate:
      g_pending.push_back(arg);
      ::PostMessageW(self, kRunNavigate, 0, 0);
      return 0;
    case kKeysOffered:
      return browserhost_testing::KeysOffered();
    case kAt:
      return f.WebBrowser1.LocationURL() == arg ? 1 : 0;
    default:
      return -1;
  }
}

LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COPYDATA && lp) return Run(h, *reinterpret_cast<const COPYDATASTRUCT*>(lp));
  if (msg == kRunNavigate) {
    while (!g_pending.empty()) {
      const std::wstring url = g_pending.front();
      g_pending.pop_front();
      frmMain::Instance().WebBrowser1.Navigate(url);
    }
    return 0;
  }
  return ::DefWindowProcW(h, msg, wp, lp);
}

}  // namespace

Window::Window() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  ::RegisterClassExW(&wc);
  hwnd_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

Window::~Window() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

}  // namespace testcommands
