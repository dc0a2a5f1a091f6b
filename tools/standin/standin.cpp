// A stand-in for the Karvex main program KARVEX32.EXE, used by the tests and the demo medium
// in place of the real archiver, which lies outside this project. Started by the setup with
// "/install" and a suffix letter, it shows the command line it received and the folder it
// runs in, in one message box, and writes nothing.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char folder[MAX_PATH] = "";
  const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) lstrcpyA(folder, "(unknown)");
  char text[1024 + MAX_PATH];
  std::snprintf(text, sizeof text,
                "This is a stand-in for the Karvex main program, used by the tests and the "
                "demo of Karvex Setup in place of the real archiver.\n\n"
                "Command line: %s\n"
                "Current folder: %s",
                GetCommandLineA(), folder);
  MessageBoxA(nullptr, text, "Karvex stand-in", MB_OK | MB_ICONINFORMATION);
  return 0;
}
