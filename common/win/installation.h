// The installation the programs belong to, as the installer recorded it.
#pragma once

#include <windows.h>

#include "common/win/owners.h"

namespace win {

// Opens the uninstall entry (product::kUninstallKey, 32-bit view) with
// `access` where it is: under HKEY_LOCAL_MACHINE, else under
// HKEY_CURRENT_USER. The root it was found under, or null without one.
HKEY OpenUninstallKey(REGSAM access, UniqueKey& key);

}  // namespace win
