#include "client/integration/modCreDeskLink.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "client/integration/entrytext.h"
#include "common/product.h"
#include "common/win/files.h"
#include "common/win/owners.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"

namespace modCreDeskLink {

namespace {

// Ordinal comparisons use the system's case table, not the user's locale,
// so "VELMORA" matches "Velmora" everywhere and nothing else changes with
// the language settings.
bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& part) {
  if (part.empty()) return true;
  return ::FindStringOrdinal(FIND_FROMSTART, text.c_str(), static_cast<int>(text.size()), part.c_str(),
                             static_cast<int>(part.size()), TRUE) >= 0;
}

// The short 8.3 name lets "*.lnk" match longer extensions too ("x.lnkx").
bool HasLnkExtension(const std::wstring& file) {
  constexpr wchar_t kExt[] = L".lnk";
  constexpr int kLen = 4;
  if (file.size() < static_cast<size_t>(kLen)) return false;
  return ::CompareStringOrdinal(file.c_str() + file.size() - kLen, kLen, kExt, kLen, TRUE) == CSTR_EQUAL;
}

std::wstring LinkFileName() { return win::W(product::kAppTitle) + L".lnk"; }

bool SaveLink(const std::wstring& path) {
  // A hidden or system file, or a folder, of that name is not a shortcut on
  // view but it is not ours to overwrite either (Windows refuses it; Wine
  // would write through it).
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const std::u16string folder = win::U(win::AppFolder());
  const std::wstring target = win::W(entrytext::ExeTarget(folder, win::U(win::ExeBaseName())));
  const std::wstring icon = win::AppFile(win::W(product::kIconFile));
  win::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
    return false;
  if (FAILED(link->SetPath(target.c_str())) || FAILED(link->SetIconLocation(icon.c_str(), 0)) ||
      FAILED(link->SetWorkingDirectory(win::AppFolder().c_str())) || FAILED(link->SetShowCmd(SW_SHOWNORMAL)))
    return false;
  win::ComPtr<IPersistFile> file;
  if (FAILED(link.As(file))) return false;
  if (FAILED(file->Save(path.c_str(), TRUE))) {
    // A half-written shortcut would count as present from now on.
    ::DeleteFileW(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::wstring DesktopFolder() {
  PWSTR raw = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &raw)) && raw) folder = raw;
  ::CoTaskMemFree(raw);
  return folder;
}

std::wstring DesktopLinkPath() {
  const std::wstring desktop = DesktopFolder();
  if (desktop.empty()) return desktop;
  return win::W(entrytext::InFolder(win::U(desktop), win::U(LinkFileName())));
}

bool FindDesktopLink(const std::wstring& name, const std::wstring& folder) {
  const std::wstring dir = folder.empty() ? DesktopFolder() : folder;
  if (dir.empty()) return false;
  const std::wstring pattern = win::W(entrytext::InFolder(win::U(dir), u"*.lnk"));
  WIN32_FIND_DATAW fd;
  win::UniqueFind find(::FindFirstFileW(pattern.c_str(), &fd));
  if (!find) return false;
  constexpr DWORD kNotNormal = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  do {
    if (fd.dwFileAttributes & kNotNormal) continue;
    const std::wstring file = fd.cFileName;
    if (HasLnkExtension(file) && ContainsIgnoringCase(file, name)) return true;
  } while (::FindNextFileW(find.get(), &fd));
  return false;
}

LinkChange SetDesktopLink(bool create) {
  // Balanced when the caller's thread has COM already.
  win::ComScope com;
  const std::wstring desktop = DesktopFolder();
  if (desktop.empty()) return LinkChange::kFailed;
  const std::wstring path = win::W(entrytext::InFolder(win::U(desktop), win::U(LinkFileName())));
  if (create) {
    if (FindDesktopLink(win::W(product::kAppTitle), desktop)) return LinkChange::kNone;
    return SaveLink(path) ? LinkChange::kCreated : LinkChange::kFailed;
  }
  // Copies under other names, hidden files and folders are the user's.
  if (!win::IsNormalFile(path)) return LinkChange::kNone;
  return ::DeleteFileW(path.c_str()) ? LinkChange::kRemoved : LinkChange::kFailed;
}

}  // namespace modCreDeskLink
