#include "common/win/installation.h"

#include "common/product.h"
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

}  // namespace win
