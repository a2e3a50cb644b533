#include "common/win/installation.h"

#include "common/product.h"
#include "common/win/files.h"
#include "common/win/winstr.h"

namespace win {

HKEY OpenUninstallKey(REGSAM access, UniqueKey& key) {
  const std::wstring path = W(product::kUninstallKey);
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    key.reset();
    if (::RegOpenKeyExW(root, path.c_str(), 0, access | KEY_WOW64_32KEY, key.put()) == ERROR_SUCCESS) return root;
  }
  key.reset();
  return nullptr;
}

std::wstring RecordedInstallation() {
  UniqueKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, W(product::kUninstallKey).c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                      key.put()) != ERROR_SUCCESS)
    return {};
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key.get(), L"InstallLocation", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size > 64 * 1024)
    return {};
  // One character more than reported, so that the text always ends.
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegQueryValueExW(key.get(), L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &size) != ERROR_SUCCESS)
    return {};
  value.resize(::wcsnlen(value.c_str(), value.size()));
  return value;
}

bool IsTheInstallation(const std::wstring& folder) {
  const std::wstring recorded = RecordedInstallation();
  return !recorded.empty() && SameFolder(folder, recorded);
}

bool RemovedUnder(const std::wstring& folder) {
  // The mark first: without it (nearly always) the registry is not asked.
  return ::GetFileAttributesW(W(product::InAppFolder(U(folder), product::kRemovedMark)).c_str()) !=
             INVALID_FILE_ATTRIBUTES &&
         !IsTheInstallation(folder);
}

}  // namespace win
