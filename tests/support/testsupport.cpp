#include "tests/support/testsupport.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>

#include "common/win/owners.h"
#include "buildinfo.h"
#include "common/win/paths.h"

namespace testsupport {

namespace {

// The programs are per-monitor dpi-aware through their manifest; the test
// programs have none and say so here, before any window exists.
[[maybe_unused]] const bool g_dpiAware = [] {
  using Fn = BOOL(WINAPI*)(HANDLE);
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  auto set = user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(
                          ::GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                    : nullptr;
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  return set && set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));
}();

struct InetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};
using UniqueInet = win::Unique<InetTraits>;

std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }
// Host names are ASCII.
std::string Narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

// Plain HTTP request to the stand-in hosts; returns the body ("" on error).
std::string Http(const std::string& host, const std::string& verb, const std::string& path,
                 const std::string& body) {
  UniqueInet inet(::InternetOpenW(L"velbox-tests", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!inet) return "";
  const size_t colon = host.find(':');
  const std::wstring name = Widen(host.substr(0, colon));
  const INTERNET_PORT port =
      colon == std::string::npos ? 80 : static_cast<INTERNET_PORT>(std::stoi(host.substr(colon + 1)));
  UniqueInet conn(::InternetConnectW(inet.get(), name.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!conn) return "";
  UniqueInet req(::HttpOpenRequestW(conn.get(), Widen(verb).c_str(), Widen(path).c_str(), nullptr, nullptr, nullptr,
                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!req) return "";
  const wchar_t headers[] = L"Content-Type: application/json\r\n";
  if (!::HttpSendRequestW(req.get(), headers, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size())))
    return "";
  std::string out;
  char buf[8192];
  DWORD got = 0;
  while (::InternetReadFile(req.get(), buf, sizeof buf, &got) && got > 0) out.append(buf, got);
  return out;
}

}  // namespace

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  static unsigned counter = 0;
  for (;;) {
    path_ = std::wstring(base) + L"velbox-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

AppFolderScope::AppFolderScope(const std::wstring& folder) { win::OverrideAppFolderForTesting(folder); }
AppFolderScope::~AppFolderScope() { win::OverrideAppFolderForTesting(L""); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return false;
  DWORD put = 0;
  return ::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
  win::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return "";
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (::ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  return out;
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  win::UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &fd));
  if (find) {
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find.get(), &fd));
  }
  find.reset();
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::RemoveDirectoryW(path.c_str());
}

win::UniqueBitmap CaptureWindow(HWND window, const std::uint32_t** bits) {
  RECT rc;
  ::GetClientRect(window, &rc);
  void* pixels = nullptr;
  win::WindowDc dc(window);
  win::UniqueBitmap shot = win::TopDownDib(rc.right, rc.bottom, &pixels);
  win::UniqueMemDc mem(::CreateCompatibleDC(dc.get()));
  {
    win::SelectGuard sel(mem.get(), shot.get());
    ::BitBlt(mem.get(), 0, 0, rc.right, rc.bottom, dc.get(), 0, 0, SRCCOPY);
  }
  if (bits) *bits = static_cast<const std::uint32_t*>(pixels);
  return shot;
}

namespace standin {

// Without the variables, the hosts this build's programs talk to (never
// another build's stand-ins).
std::string WebHost() { return EnvOr("VELBOX_WEB_HOST", Narrow(buildinfo::kWebHost).c_str()); }
std::string MusicHost() { return EnvOr("VELBOX_MUSIC_HOST", Narrow(buildinfo::kMusicHost).c_str()); }
std::string UpdateHost() { return EnvOr("VELBOX_UPDATE_HOST", Narrow(buildinfo::kUpdateHost).c_str()); }

bool Route(const std::string& json) { return Http(UpdateHost(), "POST", "/_ctl/route", json) == "ok"; }
bool Reset() { return Http(UpdateHost(), "POST", "/_ctl/reset", "").rfind("{\"ended\":", 0) == 0; }
std::string Log() { return Http(UpdateHost(), "GET", "/_ctl/log", ""); }

std::vector<std::string> RequestPaths(const std::string& role) {
  // Each line is a JSON object written by the stand-in hosts with
  // "role" and "path" fields; a small scan is enough for that format.
  std::vector<std::string> paths;
  const std::string log = Log();
  size_t pos = 0;
  while (pos < log.size()) {
    size_t end = log.find('\n', pos);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(pos, end - pos);
    pos = end + 1;
    if (line.find("\"role\": \"" + role + "\"") == std::string::npos) continue;
    const std::string key = "\"path\": \"";
    const size_t p = line.find(key);
    if (p == std::string::npos) continue;
    const size_t q = line.find('"', p + key.size());
    paths.push_back(line.substr(p + key.size(), q - p - key.size()));
  }
  return paths;
}

bool WaitForRequests(const std::string& role, const std::function<bool(const std::vector<std::string>&)>& enough,
                     unsigned ms) {
  const ULONGLONG deadline = ::GetTickCount64() + ms;
  for (;;) {
    if (enough(RequestPaths(role))) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(50);
  }
}

}  // namespace standin

}  // namespace testsupport
