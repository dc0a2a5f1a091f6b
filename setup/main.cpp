// Entry point of SETUP.EXE: hands the module to the installation sequence, which decides every
// way the run ends; the process always exits with 0.
#include <windows.h>

#include "setup/install.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return RunInstallation(instance); }
