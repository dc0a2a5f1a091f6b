// kxactor: plays, for the Wine tests, the other programs the setup deals with. Started by the
// harness (harness::Actor) as
//   kxactor <events> hold <ms> <path>            keeps <path> open (shared for reading only)
//   kxactor <events> filemanager <ms> <library>  File Manager holding its add-on library
//   kxactor <events> window 0 <class>            a top-level window of <class>
// <events> names the pair of events "<events>-ready" (set here once the role is played) and
// "<events>-release" (set by the test to end the role early). <ms> is a time in milliseconds,
// 4294967295 for never.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kReloadExtensions = WM_USER + 0x207;  // File Manager's "reload add-ons" (1543)
constexpr UINT_PTR kReleaseTimer = 1;

struct ActorState {
  HANDLE library = INVALID_HANDLE_VALUE;
  DWORD releaseDelay = INFINITE;
};
ActorState g_actor;

HANDLE HoldOpen(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void ReleaseLibrary(HWND window) {
  if (g_actor.library != INVALID_HANDLE_VALUE) CloseHandle(g_actor.library);
  g_actor.library = INVALID_HANDLE_VALUE;
  SetWindowTextA(window, "File Manager - released");
}

LRESULT CALLBACK FileManagerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kReloadExtensions) {
    SetWindowTextA(window, "File Manager - reloaded");
    if (g_actor.releaseDelay == 0)
      ReleaseLibrary(window);
    else if (g_actor.releaseDelay != INFINITE)
      SetTimer(window, kReleaseTimer, g_actor.releaseDelay, nullptr);
    return 0;
  }
  if (message == WM_TIMER && wParam == kReleaseTimer) {
    KillTimer(window, kReleaseTimer);
    ReleaseLibrary(window);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Dispatches messages until the release event is set.
void RunUntilReleased(HANDLE release) {
  for (;;) {
    if (MsgWaitForMultipleObjects(1, &release, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0)
      return;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

HWND CreateRoleWindow(const char* className, WNDPROC procedure, const char* title) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = className;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassA(&wc);
  return CreateWindowA(className, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                       wc.hInstance, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const char* events = argv[1];
  const char* role = argv[2];
  const DWORD ms = std::strtoul(argv[3], nullptr, 10);
  const char* subject = argv[4];
  char name[300];
  wsprintfA(name, "%s-ready", events);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
  wsprintfA(name, "%s-release", events);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (!ready || !release) return 3;

  if (std::strcmp(role, "hold") == 0) {
    HANDLE file = HoldOpen(subject);
    if (file == INVALID_HANDLE_VALUE) return 4;
    SetEvent(ready);
    WaitForSingleObject(release, ms);
    CloseHandle(file);
    return 0;
  }
  if (std::strcmp(role, "filemanager") == 0) {
    g_actor.releaseDelay = ms;
    g_actor.library = HoldOpen(subject);  // a missing library is simply not held
    if (!CreateRoleWindow("WFS_Frame", FileManagerProc, "File Manager")) return 4;
    SetEvent(ready);
    RunUntilReleased(release);
    if (g_actor.library != INVALID_HANDLE_VALUE) CloseHandle(g_actor.library);
    return 0;
  }
  if (std::strcmp(role, "window") == 0) {
    if (!CreateRoleWindow(subject, DefWindowProcA, "Karvex")) return 4;
    SetEvent(ready);
    RunUntilReleased(release);
    return 0;
  }
  return 2;
}
