// Entry point of SETUP.EXE: records the module and its texts, then runs the installation.
#include <windows.h>

#include "setup/state.h"
#include "ui/messages.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_setup.instance = instance;
  LoadStringA(instance, MSG_TITLE, g_setup.title, sizeof g_setup.title);
  LoadStringA(instance, MSG_ACTION_INSTALLING, g_setup.actionText, sizeof g_setup.actionText);
  return 0;
}
