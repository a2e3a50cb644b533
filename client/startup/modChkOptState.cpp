#include "client/startup/modChkOptState.h"

#include <windows.h>

#include "client/integration/modAutoRun.h"
#include "client/integration/modCreDeskLink.h"
#include "client/startup/modOpertXml.h"
#include "common/win/installation.h"
#include "common/win/paths.h"

namespace modChkOptState {

bool bCloseToTray = false;

bool IsAutoRunSet() {
  const std::wstring command = modAutoRun::AutoRunCommand();
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    if (modAutoRun::ReadRegValue(root, modAutoRun::kRunKey, modAutoRun::RunValueName()) == command) return true;
  return false;
}

void ApplyOptions() {
  // The product was uninstalled under this client: nothing of it may come
  // back, neither the file nor the log-on value nor the shortcut.
  if (win::RemovedUnder(win::AppFolder())) return;
  if (!modOpertXml::ConfigFileExists()) modOpertXml::EnsureConfigFile();

  const std::wstring autorun = modOpertXml::ReadConfigKey(L"autorun");
  // Both ways SetAutoRun writes only what is missing or stale, and takes
  // away only our own command: an entry of another install stays.
  if (autorun == L"1") {
    modAutoRun::SetAutoRun(true);
  } else if (autorun == L"0") {
    if (IsAutoRunSet()) modAutoRun::SetAutoRun(false);
  }

  const std::wstring closeToTray = modOpertXml::ReadConfigKey(L"closetotray");
  if (closeToTray == L"1")
    bCloseToTray = true;
  else if (closeToTray == L"0")
    bCloseToTray = false;

  const std::wstring shortcut = modOpertXml::ReadConfigKey(L"shortlnk");
  if (shortcut == L"1")
    modCreDeskLink::SetDesktopLink(true);
  else if (shortcut == L"0")
    modCreDeskLink::SetDesktopLink(false);
}

}  // namespace modChkOptState
