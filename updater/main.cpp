// Entry point of velUpdate.exe. The updater reads no command line.
#include <windows.h>

#include "update_pubkey.h"  // generated from VELBOX_UPDATE_PUBKEY
#include "updater/frmMain.h"
#include "updater/modCheckUpdate.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  modCheckUpdate::PublicKey.assign(buildkey::kUpdatePublicKey.begin(), buildkey::kUpdatePublicKey.end());
  return updater::Run(show);
}
