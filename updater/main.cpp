// Entry point of velUpdate.exe. The updater reads no command line.
#include <windows.h>

#include "updater/frmMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) { return updater::Run(show); }
