// Owner of WinINet handles. Kept apart from owners.h because wininet.h and
// winhttp.h must not meet in one translation unit.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "common/win/owners.h"

namespace win {

struct InetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};
using UniqueInet = Unique<InetTraits>;

}  // namespace win
