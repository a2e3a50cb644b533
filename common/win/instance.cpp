#include "common/win/instance.h"

namespace win {

InstanceClaim ClaimInstance(const wchar_t* name, UniqueHandle& held) {
  held.reset(::CreateMutexW(nullptr, FALSE, name));
  const DWORD error = ::GetLastError();
  if (held && error != ERROR_ALREADY_EXISTS) return InstanceClaim::kFirst;
  held.reset();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED ? InstanceClaim::kAnotherRuns
                                                                        : InstanceClaim::kNotHeld;
}

}  // namespace win
