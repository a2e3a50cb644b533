#include "client/startup/modMain.h"

#include "client/mainwindow/frmMain.h"
#include "client/startup/modChkOptState.h"
#include "client/startup/modOpertXml.h"
#include "common/product.h"
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

}  // namespace modMain
