// A stand-in for velUpdate.exe in the client's tests.
//   velTestUpdater.exe           appends to "<own path>.ran" one line:
//                                "<unix time>\t<STARTF_USESHOWWINDOW 0/1>\t
//                                <wShowWindow>\t<command line>"
//   velTestUpdater.exe ping S FILE EXE
//                                for S seconds, every 100 ms sends WM_NULL
//                                to every top-level window (shown or not)
//                                of the processes running EXE and appends
//                                "<unix time>\t<windows>\t<slowest answer
//                                in ms, -1 when one did not answer in 3 s>"
//   velTestUpdater.exe close EXE sends the system close command to the
//                                visible top-level windows of the processes
//                                running EXE, as the close button does
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

double UnixNow() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const ULONGLONG t = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<double>(t - 116444736000000000ULL) / 1e7;
}

void Append(const std::wstring& file, const std::string& line) {
  HANDLE h = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD put = 0;
  ::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
  ::CloseHandle(h);
}

std::string Utf8(const std::wstring& s) {
  if (s.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring ImageOf(DWORD pid) {
  HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return {};
  wchar_t buf[MAX_PATH * 2];
  DWORD n = MAX_PATH * 2;
  std::wstring image;
  if (::QueryFullProcessImageNameW(p, 0, buf, &n)) image.assign(buf, n);
  ::CloseHandle(p);
  return image;
}

struct Search {
  const std::wstring* exe;
  std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid != ::GetCurrentProcessId() && ::lstrcmpiW(ImageOf(pid).c_str(), s->exe->c_str()) == 0)
    s->found.push_back(hwnd);
  return TRUE;
}

int Ping(double seconds, const std::wstring& file, const std::wstring& exe) {
  const double end = UnixNow() + seconds;
  Append(file, "start\n");
  while (UnixNow() < end) {
    Search s{&exe, {}};
    ::EnumWindows(&Collect, reinterpret_cast<LPARAM>(&s));
    long slowest = 0;
    for (HWND w : s.found) {
      const ULONGLONG t0 = ::GetTickCount64();
      DWORD_PTR r = 0;
      if (!::SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &r)) {
        if (::IsWindow(w)) slowest = -1;
        continue;
      }
      if (slowest >= 0) slowest = (std::max)(slowest, static_cast<long>(::GetTickCount64() - t0));
    }
    char line[80];
    std::snprintf(line, sizeof line, "%.3f\t%u\t%ld\n", UnixNow(), static_cast<unsigned>(s.found.size()), slowest);
    Append(file, line);
    ::Sleep(100);
  }
  Append(file, "end\n");
  return 0;
}

int Close(const std::wstring& exe) {
  Search s{&exe, {}};
  ::EnumWindows(&Collect, reinterpret_cast<LPARAM>(&s));
  int sent = 0;
  for (HWND w : s.found) {
    if (!::IsWindowVisible(w)) continue;
    ::PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    ++sent;
  }
  return sent ? 0 : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv && argc >= 5 && std::wcscmp(argv[1], L"ping") == 0)
    return Ping(std::wcstod(argv[2], nullptr), argv[3], argv[4]);
  if (argv && argc >= 3 && std::wcscmp(argv[1], L"close") == 0) return Close(argv[2]);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  ::GetStartupInfoW(&si);
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  char head[96];
  std::snprintf(head, sizeof head, "%.3f\t%d\t%u\t", UnixNow(), (si.dwFlags & STARTF_USESHOWWINDOW) ? 1 : 0,
                static_cast<unsigned>(si.wShowWindow));
  Append(std::wstring(self) + L".ran", head + Utf8(::GetCommandLineW()) + "\n");
  return 0;
}
