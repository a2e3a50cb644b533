// The installation the programs belong to, as the installer recorded it.
#pragma once

#include <windows.h>

#include <string>

#include "common/win/owners.h"

namespace win {

// Opens the uninstall entry (product::kUninstallKey, 32-bit view) with
// `access` where it is: under HKEY_CURRENT_USER, this installer's, else
// under HKEY_LOCAL_MACHINE, where an old machine-wide installation kept it.
// The root it was found under, or null without one.
HKEY OpenUninstallKey(REGSAM access, UniqueKey& key);

// The installation: the folder this user's installer recorded
// ("InstallLocation" of the uninstall entry under HKEY_CURRENT_USER); empty
// without one. A machine-wide entry of an old installer records none that
// is this user's.
std::wstring RecordedInstallation();

// True when `folder` is the installation itself (win::SameFolder), not a
// copy of it or a folder of the same name.
bool IsTheInstallation(const std::wstring& folder);

// True when the installation in `folder` was removed under a program still
// running from it: the folder is not the installation (any more), and the
// uninstaller left its mark there (product::kRemovedMark, cleared by the
// next install). Such a program writes nothing, so that nothing of the
// product comes back. A folder without the mark (a portable copy, a test
// folder) is not removed.
bool RemovedUnder(const std::wstring& folder);

}  // namespace win
