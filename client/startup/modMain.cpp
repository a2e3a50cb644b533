#include "client/startup/modMain.h"

#include "client/mainwindow/frmMain.h"
#include "client/startup/modChkOptState.h"
#include "client/startup/modOpertXml.h"
#include "common/product.h"
#include "common/win/files.h"
#include "common/win/installation.h"
#include "common/win/paths.h"
#include "common/win/winstr.h"

namespace modMain {

void Main() {
  // A failed save or a file without "ver" is not reported: the file stays
  // as it was and the client carries on, as with an unparsable file.
  modOpertXml::EnsureConfigFile();
  modChkOptState::ApplyOptions();
  modOpertXml::WriteConfigKey(L"ver", win::W(product::ClientVersionText()));
  frmMain::Instance().Start();
}

void Finish() {
  // This client runs on from its file moved aside and gives it its name
  // back. Not after an uninstall: nothing comes back.
  if (win::RemovedUnder(win::AppFolder())) return;
  for (const char16_t* file : {product::kClientFile, product::kUpdaterFile})
    win::RestoreSetAside(win::AppFile(win::W(file)));
}

}  // namespace modMain
