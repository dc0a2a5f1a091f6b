// Windows, texts, clicks, message boxes and processes for the Wine harness.
// Windows of other processes are found in the desktop's list of top-level windows, which under
// Wine holds every window of the prefix; texts are read without blocking on a busy thread.
#include "tests/wine/harness/harness.h"

#include "res/dialog.h"

#include <algorithm>
#include <map>

namespace harness {

namespace {

constexpr int kBoxTextId = 0xFFFF;  // the static that holds a message box's text

HWND ChildWithId(HWND parent, int id) {
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if ((GetDlgCtrlID(child) & 0xFFFF) == (id & 0xFFFF)) return child;
  return nullptr;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  for (const DWORD start = GetTickCount(); !done(); Sleep(5))
    if (GetTickCount() - start >= timeoutMs) return false;
  return true;
}

std::string RawTextOf(HWND window) {
  WCHAR wide[1024] = {};
  char text[2048] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, InternalGetWindowText(window, wide, 1024), text,
                      sizeof text - 1, nullptr, nullptr);
  return text;
}

std::string ControlText(HWND dialog, int id) {
  char text[1024] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(ChildWithId(dialog, id), WM_GETTEXT, sizeof text,
                      reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &copied);
  return text;
}

bool TypeText(HWND edit, const std::string& text) {
  PostMessageA(edit, EM_SETSEL, 0, -1);
  if (text.empty()) PostMessageA(edit, WM_CHAR, VK_BACK, 0);
  for (unsigned char c : text) PostMessageA(edit, WM_CHAR, c, 1);
  return WaitFor([&] { return ControlText(GetParent(edit), GetDlgCtrlID(edit)) == text; });
}

bool ClickControl(HWND dialog, int id) {
  const HWND button = ChildWithId(dialog, id);
  return WaitFor([&] { return IsWindowVisible(button) && IsWindowEnabled(button); }) &&
         PostMessageA(button, BM_CLICK, 0, 0);
}

HWND FindSetupWindow(DWORD processId, int controlId, HWND owner) {
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != processId || !IsWindowVisible(window) || ClassOf(window) != "#32770") continue;
    // The destination dialog's unnumbered static looks like a box's text.
    const bool box = ChildWithId(window, kBoxTextId) && !ChildWithId(window, IDC_FOLDER) &&
                     !ChildWithId(window, IDC_METER);
    if (controlId ? ChildWithId(window, controlId) != nullptr
                  : box && (owner == kAnyOwner || GetWindow(window, GW_OWNER) == owner))
      return window;
  }
  return nullptr;
}

HWND WaitForSetupWindow(DWORD processId, int controlId, HWND owner, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindSetupWindow(processId, controlId, owner)) != nullptr; },
          timeoutMs);
  return found;
}

MessageBoxInfo ReadMessageBox(HWND box) {
  WaitUntilPainted(box);
  MessageBoxInfo info{RawTextOf(box), RawTextOf(ChildWithId(box, kBoxTextId)), {}};
  std::map<LONG, int> buttons;  // by their left edge
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(child, &r);
    if (lstrcmpiA(ClassOf(child).c_str(), "Button") == 0 && IsWindowVisible(child))
      buttons[r.left] = GetDlgCtrlID(child);
  }
  for (const auto& b : buttons) info.buttons.push_back(b.second);
  return info;
}

bool AnswerMessageBox(HWND box, int buttonId) {
  return ClickControl(box, buttonId) && WaitFor([&] { return !IsWindow(box); });
}

Process::Process(const std::string& commandLine, const char* workDir) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, workDir, &startup,
                      &info))
    return;
  CloseHandle(info.hThread);
  handle_.Reset(info.hProcess);
  id_ = info.dwProcessId;
}

bool Process::Running() const {
  return handle_ && WaitForSingleObject(handle_.get(), 0) == WAIT_TIMEOUT;
}

bool Process::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!handle_ || WaitForSingleObject(handle_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  if (exitCode) GetExitCodeProcess(handle_.get(), exitCode);
  return true;
}

Process::~Process() {
  if (Running()) TerminateProcess(handle_.get(), 255);
  WaitExit();
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

}  // namespace harness
