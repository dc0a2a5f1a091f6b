// Plays the main program KARVEX32.EXE that the setup starts: records how it was started (its
// command line and current folder) and whether the setup's progress window (a visible
// top-level window holding a Meter control) was still there, in <its own path>.launched, then
// ends. Written under a temporary name and renamed, so that a poll never reads half of it.
#include <windows.h>

#include <fstream>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  bool progressShown = false;
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT))
    progressShown |= IsWindowVisible(window) && FindWindowExA(window, nullptr, "Meter", nullptr);
  char self[MAX_PATH] = "", folder[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, sizeof self);
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string target = std::string(self) + ".launched", partial = target + ".part";
  const std::string report = std::string(GetCommandLineA()) + "\n" + folder + "\n" +
                             (progressShown ? "progress window shown\n" : "no progress window\n");
  std::ofstream(partial, std::ios::binary) << report;
  return MoveFileA(partial.c_str(), target.c_str()) ? 0 : 1;
}
