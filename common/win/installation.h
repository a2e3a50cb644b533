// The installation the programs belong to, as the installer recorded it.
#pragma once

#include <windows.h>

#include "common/win/owners.h"

namespace win {

// Opens the uninstall entry (product::kUninstallKey, 32-bit view) with
// `access` where it is: under HKEY_CURRENT_USER, this installer's, else
// under HKEY_LOCAL_MACHINE, where an old machine-wide installation kept it.
// The root it was found under, or null without one.
HKEY OpenUninstallKey(REGSAM access, UniqueKey& key);

}  // namespace win
