#include "common/win/paths.h"

#include <windows.h>

#include <optional>

#include "common/product.h"
#include "common/win/winstr.h"

namespace win {

namespace {

std::wstring ModulePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::wstring();
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);  // truncated: long path
  }
}

std::optional<std::wstring>& Override() {
  static std::optional<std::wstring> folder;
  return folder;
}

}  // namespace

const std::wstring& ExePath() {
  static const std::wstring path = ModulePath();
  return path;
}

const std::wstring& AppFolder() {
  if (Override()) return *Override();
  static const std::wstring folder = [] {
    const std::wstring& p = ExePath();
    const size_t slash = p.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    // A drive root keeps its separator ("C:\"), as App.Path does.
    if (slash == 2 && p[1] == L':') return p.substr(0, 3);
    return p.substr(0, slash);
  }();
  return folder;
}

std::wstring AppFile(std::wstring_view literal) {
  return W(product::InAppFolder(U(AppFolder()), U(literal)));
}

const std::wstring& ExeBaseName() {
  static const std::wstring name = [] {
    const std::wstring& p = ExePath();
    const size_t slash = p.find_last_of(L"\\/");
    std::wstring file = slash == std::wstring::npos ? p : p.substr(slash + 1);
    const size_t dot = file.find_last_of(L'.');
    if (dot != std::wstring::npos) file.resize(dot);
    return file;
  }();
  return name;
}

void OverrideAppFolderForTesting(const std::wstring& folder) {
  // An empty folder ends the override.
  if (folder.empty())
    Override().reset();
  else
    Override() = folder;
}

}  // namespace win
