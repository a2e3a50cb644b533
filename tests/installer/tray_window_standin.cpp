// Stands in for a running client in the installer tests: a hidden top-level
// window of the client's tray window class that, asked to exit, leaves a
// moment later, as a client going through its exit path does. Copied over
// the installed velBox.exe, it also keeps that file in use while it runs.
//   tray_window_standin.exe LOGFILE [ignore] [hold] [shown] [freeze]
// The log gets "ready" once the window is up, "asked" for each exit
// request and "gone" just before the process ends. With "ignore" it stays;
// with "freeze" it stops taking messages once it is up, as a program that
// hangs does;
// with "hold" it keeps its own file open without delete sharing, so that
// the file can be neither replaced nor renamed while it runs; with "shown"
// it also has a visible window of the client's main window class and title.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "common/win/owners.h"

namespace {

constexpr wchar_t kClass[] = L"velBoxMenu";
constexpr wchar_t kMainClass[] = L"velForm";
constexpr wchar_t kMainTitle[] = L"Velmora音乐网 - 给你最好的音乐";
constexpr UINT kExitMessage = WM_APP + 0x101;
constexpr UINT_PTR kLeaveTimer = 1;

std::wstring g_log;
bool g_ignore = false;

void Note(const char* line) {
  win::UniqueFile f(::CreateFileW(g_log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return;
  const std::string text = std::string(line) + "\n";
  DWORD written = 0;
  ::WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kExitMessage:
      Note("asked");
      // The reply goes back at once; the window goes a little later.
      if (!g_ignore) ::SetTimer(hwnd, kLeaveTimer, 1000, nullptr);
      return 0;
    case WM_TIMER:
      if (wp == kLeaveTimer) {
        ::KillTimer(hwnd, kLeaveTimer);
        ::DestroyWindow(hwnd);
      }
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  g_log = argv[1];
  bool hold = false, shown = false, freeze = false;
  for (int i = 2; i < argc; ++i) {
    const std::wstring mode = argv[i];
    g_ignore |= mode == L"ignore";
    hold |= mode == L"hold";
    shown |= mode == L"shown";
    freeze |= mode == L"freeze";
  }
  ::LocalFree(argv);
  win::UniqueFile self;
  if (hold) {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    self.reset(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!self) return 5;
  }

  WNDCLASSW wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClass;
  if (!::RegisterClassW(&wc)) return 3;
  // Top-level (not message-only), so FindWindow sees it.
  HWND hwnd = ::CreateWindowExW(WS_EX_TOOLWINDOW, kClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
  if (!hwnd) return 4;
  if (shown) {
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.lpszClassName = kMainClass;
    if (!::RegisterClassW(&wc)) return 3;
    HWND main = ::CreateWindowExW(0, kMainClass, kMainTitle, WS_POPUP | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                                  nullptr, instance, nullptr);
    if (!main) return 4;
  }
  Note("ready");
  if (freeze) ::Sleep(INFINITE);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  // A client ending still holds its executable for a moment after its
  // windows are gone.
  ::Sleep(1500);
  Note("gone");
  return 0;
}
