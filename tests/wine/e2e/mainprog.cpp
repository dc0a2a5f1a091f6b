// Plays the installed main program KARVEX32.EXE in the end-to-end runs: records how the setup
// started it (its command line and current folder) and whether the setup's progress window
// (a top-level window holding a Meter control) was still there, in the file that the
// environment variable KX_E2E_REPORT names, then ends. Written under a temporary name and
// renamed, so that a test polling for the report never reads half of it.
#include <windows.h>

#include <string>

namespace {

BOOL CALLBACK HasMeterChild(HWND child, LPARAM found) {
  char name[16];
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Meter") == 0) *reinterpret_cast<bool*>(found) = true;
  return TRUE;
}

BOOL CALLBACK LookForProgressWindow(HWND window, LPARAM found) {
  if (IsWindowVisible(window)) EnumChildWindows(window, HasMeterChild, found);
  return TRUE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char target[MAX_PATH] = "";
  const DWORD length = GetEnvironmentVariableA("KX_E2E_REPORT", target, sizeof target);
  if (length == 0 || length >= sizeof target) return 1;
  bool progressShown = false;
  EnumWindows(LookForProgressWindow, reinterpret_cast<LPARAM>(&progressShown));
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string report = std::string(GetCommandLineA()) + "\n" + folder + "\n" +
                             (progressShown ? "progress window shown" : "no progress window") +
                             "\n";
  const std::string partial = std::string(target) + ".part";
  const HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
  return MoveFileA(partial.c_str(), target) ? 0 : 1;
}
