// kxactor: plays, for the Wine tests, the other programs the setup deals with. Started by the
// harness (harness::Actor) as `kxactor <events> <role> <ms> <subject>`, with the roles
//   hold         keeps the file <subject> open (shared for reading only) for <ms>
//   filemanager  a File Manager frame holding its add-on library <subject>, which it lets go
//                <ms> after the message "reload add-ons" (4294967295: never)
//   window       a top-level window of class <subject>
// until the event "<events>-release" is set; "<events>-ready" is set once the role is played.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr UINT kReloadExtensions = WM_USER + 0x207;  // File Manager's "reload add-ons" (1543)
HANDLE g_library = INVALID_HANDLE_VALUE;
DWORD g_releaseDelay = INFINITE;

void ReleaseLibrary(HWND window) {
  CloseHandle(g_library);
  g_library = INVALID_HANDLE_VALUE;
  SetWindowTextA(window, "File Manager - released");
}

LRESULT CALLBACK FileManagerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kReloadExtensions) {
    SetWindowTextA(window, "File Manager - reloaded");
    if (g_releaseDelay == 0) ReleaseLibrary(window);
    if (g_releaseDelay != 0 && g_releaseDelay != INFINITE)
      SetTimer(window, 1, g_releaseDelay, nullptr);
    return 0;
  }
  if (message != WM_TIMER) return DefWindowProcA(window, message, wParam, lParam);
  KillTimer(window, 1);
  ReleaseLibrary(window);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const DWORD ms = std::strtoul(argv[3], nullptr, 10);
  const char *role = argv[2], *subject = argv[4];
  const HANDLE ready =
      OpenEventA(EVENT_MODIFY_STATE, FALSE, (std::string(argv[1]) + "-ready").c_str());
  const HANDLE release =
      OpenEventA(SYNCHRONIZE, FALSE, (std::string(argv[1]) + "-release").c_str());
  if (!ready || !release) return 3;
  if (std::strcmp(role, "window") != 0)
    g_library = CreateFileA(subject, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);  // a missing add-on library is simply not held
  if (std::strcmp(role, "hold") == 0) {
    if (g_library == INVALID_HANDLE_VALUE) return 4;
    SetEvent(ready);
    WaitForSingleObject(release, ms);
    return 0;
  }
  g_releaseDelay = ms;
  const bool fileManager = std::strcmp(role, "filemanager") == 0;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = fileManager ? FileManagerProc : DefWindowProcA;
  windowClass.lpszClassName = fileManager ? "WFS_Frame" : subject;
  RegisterClassA(&windowClass);
  if (!CreateWindowA(windowClass.lpszClassName, fileManager ? "File Manager" : "Karvex",
                     WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr))
    return 4;
  SetEvent(ready);
  // Dispatches messages until the release event is set.
  while (MsgWaitForMultipleObjects(1, &release, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
    for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&msg);
  return 0;
}
