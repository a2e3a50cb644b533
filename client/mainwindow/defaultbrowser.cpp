#include "client/mainwindow/defaultbrowser.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "client/mainwindow/browserprobe.h"
#include "client/mainwindow/navpolicy.h"
#include "common/win/winstr.h"

namespace defaultbrowser {

namespace {

// "%USERPROFILE%" in an address would reach the browser as a path of this
// machine.
bool ExpandsToItself(const std::wstring& text) {
  const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return false;
  std::vector<wchar_t> out(needed);
  const DWORD got = ::ExpandEnvironmentStringsW(text.c_str(), out.data(), needed);
  return got != 0 && got <= needed && text == out.data();
}

}  // namespace

bool Open(const std::wstring& address) {
  if (!navpolicy::IsWebAddress(win::U(address)) || !ExpandsToItself(address)) return false;
  if (browserprobe::TakeHandOff(address)) return true;
  ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return true;
}

}  // namespace defaultbrowser
