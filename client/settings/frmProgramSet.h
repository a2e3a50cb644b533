// The settings dialog. For now a plain form with the dialog's load
// semantics only (its load enforces the options); the skinned dialog with
// its check boxes takes its place.
#pragma once

#include "common/win/form.h"

class frmProgramSet : public win::Form {
 public:
  static frmProgramSet& Instance();

 protected:
  void DescribeWindow(win::FormWindowSpec& spec) override;
  void Form_Load() override;

 private:
  frmProgramSet() = default;
};
