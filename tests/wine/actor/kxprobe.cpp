// Plays the main program KARVEX32.EXE that the setup starts: records how it was started (its
// command line and current folder) and whether the setup's progress window (a visible
// top-level window holding a Meter control) was still there, in <its own path>.launched, then
// ends. Written under a temporary name and renamed, so that a poll never reads half of it.
#include <windows.h>

#include <string>

BOOL CALLBACK LookForProgressWindow(HWND window, LPARAM found) {
  if (IsWindowVisible(window) && FindWindowExA(window, nullptr, "Meter", nullptr))
    *reinterpret_cast<bool*>(found) = true;
  return TRUE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  bool progressShown = false;
  EnumWindows(LookForProgressWindow, reinterpret_cast<LPARAM>(&progressShown));
  char self[MAX_PATH] = "", folder[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, sizeof self);
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string report = std::string(GetCommandLineA()) + "\n" + folder + "\n" +
                             (progressShown ? "progress window shown" : "no progress window") +
                             "\n";
  const std::string target = std::string(self) + ".launched", partial = target + ".part";
  const HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
  return MoveFileA(partial.c_str(), target.c_str()) ? 0 : 1;
}
