#include "client/settings/frmProgramSet.h"

#include "client/startup/modChkOptState.h"

frmProgramSet& frmProgramSet::Instance() {
  static frmProgramSet form;
  return form;
}

void frmProgramSet::DescribeWindow(win::FormWindowSpec& spec) {
  spec.title = L"设置中心";
  spec.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  spec.width = 276;
  spec.height = 267;
}

void frmProgramSet::Form_Load() { modChkOptState::ApplyOptions(); }
