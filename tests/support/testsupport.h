// Helpers for the tests that run under Wine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/win/owners.h"

namespace testsupport {

// A fresh folder under %TEMP%, removed with its contents at scope exit.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Runs the code under test against `folder` as the application folder for
// the scope.
class AppFolderScope {
 public:
  explicit AppFolderScope(const std::wstring& folder);
  ~AppFolderScope();
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);  // "" when unreadable
bool FileExists(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// What the window's surface shows now, its child windows (check boxes)
// included, as a top-down 32-bit picture of its client area; `bits` gets
// its pixels (0x00RRGGBB, row after row).
win::UniqueBitmap CaptureWindow(HWND window, const std::uint32_t** bits = nullptr);

// The stand-in hosts (tools/standin/hosts.py) started by the harness.
namespace standin {
// "host:port" of each role, from the build's settings.
std::string WebHost();
std::string MusicHost();
std::string UpdateHost();
// POST /_ctl/route with a JSON object; true on success.
bool Route(const std::string& json);
bool Reset();
// The request log as JSON lines.
std::string Log();
// Paths (with query) of the logged requests for one role ("web", "music",
// "update"), in arrival order.
std::vector<std::string> RequestPaths(const std::string& role);
// Polls RequestPaths(role) until `enough` says so or `ms` have passed.
bool WaitForRequests(const std::string& role, const std::function<bool(const std::vector<std::string>&)>& enough,
                     unsigned ms);
}  // namespace standin

}  // namespace testsupport
