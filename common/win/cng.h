// Owners of the platform cryptography's (CNG) handles. Apart from owners.h so
// that only code that verifies anything pulls in bcrypt.h (link bcrypt).
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "common/win/owners.h"

namespace win {

struct AlgProviderTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct CngKeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::BCryptDestroyKey(h); }
};
struct CngHashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::BCryptDestroyHash(h); }
};
using UniqueAlgProvider = Unique<AlgProviderTraits>;
using UniqueCngKey = Unique<CngKeyTraits>;
using UniqueCngHash = Unique<CngHashTraits>;

}  // namespace win
