// The previous-instance test of both programs: a named mutex held for the
// run.
#pragma once

#include "common/win/owners.h"

namespace win {

enum class InstanceClaim {
  kFirst,        // the mutex is ours now, held in `held`
  kAnotherRuns,  // it exists already, or exists and may not be opened
  kNotHeld,      // it could not be made for another reason
};

// A copy running with other rights (elevated, another user) holds a mutex
// this process may not open: Windows answers ERROR_ACCESS_DENIED, and that
// copy runs all the same.
InstanceClaim ClaimInstance(const wchar_t* name, UniqueHandle& held);

}  // namespace win
