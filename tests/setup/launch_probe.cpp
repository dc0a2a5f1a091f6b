// A program for the launch tests to start: it writes the command line it received and the
// folder it was started in to "<its own path>.launched" (first to a temporary name, then
// renamed, so that a test polling for the file never reads half of it), and ends.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH] = "";
  char folder[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, sizeof self);
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string report = std::string(GetCommandLineA()) + "\n" + folder + "\n";
  const std::string target = std::string(self) + ".launched";
  const std::string partial = target + ".part";
  const HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
  return MoveFileA(partial.c_str(), target.c_str()) ? 0 : 1;
}
