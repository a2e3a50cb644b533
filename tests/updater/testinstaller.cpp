// A stand-in installer for the updater's end-to-end tests.
//   velTestInstaller.exe              writes "<own path>.ran" and ends
//   velTestInstaller.exe probe S FILE for S seconds, appends to FILE each
//                                     change of the updater window's state:
//                                     "<unix time> <state> <client w>x<h>"
//   velTestInstaller.exe close        closes the updater window once it is
//                                     visible (within 60 s), as a user would
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

double UnixNow() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const ULONGLONG t = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (t - 116444736000000000ULL) / 1e7;
}

void Append(const std::wstring& file, const std::string& line) {
  HANDLE h = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  ::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
  ::CloseHandle(h);
}

int Probe(double seconds, const std::wstring& file) {
  const double end = UnixNow() + seconds;
  std::string last;
  Append(file, "start\n");
  while (UnixNow() < end) {
    const HWND w = ::FindWindowW(nullptr, L"检测更新 - Velmora音乐网");
    std::string state = "none";
    if (w) {
      RECT r{};
      ::GetClientRect(w, &r);
      state = std::string(::IsWindowVisible(w) ? "visible " : "hidden ") + std::to_string(r.right - r.left) + "x" +
              std::to_string(r.bottom - r.top);
    }
    if (state != last) {
      char t[32];
      std::snprintf(t, sizeof t, "%.3f ", UnixNow());
      Append(file, t + state + "\n");
      last = state;
    }
    ::Sleep(30);
  }
  Append(file, "end\n");
  return 0;
}

int CloseWhenShown() {
  for (int i = 0; i < 2000; ++i) {
    const HWND w = ::FindWindowW(nullptr, L"检测更新 - Velmora音乐网");
    if (w && ::IsWindowVisible(w)) {
      ::Sleep(300);
      ::PostMessageW(w, WM_CLOSE, 0, 0);
      return 0;
    }
    ::Sleep(30);
  }
  return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv && argc >= 4 && std::wcscmp(argv[1], L"probe") == 0) return Probe(std::wcstod(argv[2], nullptr), argv[3]);
  if (argv && argc >= 2 && std::wcscmp(argv[1], L"close") == 0) return CloseWhenShown();
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  char t[32];
  std::snprintf(t, sizeof t, "%.3f\n", UnixNow());
  Append(std::wstring(self) + L".ran", t);
  return 0;
}
