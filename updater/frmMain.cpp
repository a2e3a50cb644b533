#include "updater/frmMain.h"

#include <windows.h>

namespace updater {
int Run() { return 0; }
}  // namespace updater
