// Entry point of velUpdate.exe.
#include <windows.h>

#include "updater/frmMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return updater::Run(); }
