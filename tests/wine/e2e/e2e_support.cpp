// Watching SETUP.EXE from outside: its windows told apart by their controls, boxes that are
// not its dialogs, input idleness, sampling with the setup's thread suspended, folder listings.
#include "tests/wine/e2e/e2e_support.h"

#include "res/dialog.h"

namespace e2e {

namespace {

bool HasControl(HWND window, int id) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if ((GetDlgCtrlID(child) & 0xFFFF) == (id & 0xFFFF)) return true;
  return false;
}

bool IsDialog(HWND window) { return harness::ClassOf(window) == "#32770"; }

struct Search {
  DWORD processId;
  int controlId;  // 0: a message box
  HWND owner;
  HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (harness::ProcessOf(window) != search->processId) return TRUE;
  if (!IsWindowVisible(window) || !IsDialog(window)) return TRUE;
  if (search->controlId) {
    if (!HasControl(window, search->controlId)) return TRUE;
  } else {
    constexpr int kBoxTextId = 0xFFFF;
    if (!HasControl(window, kBoxTextId) || HasControl(window, IDC_FOLDER) ||
        HasControl(window, IDC_METER))
      return TRUE;
    if (search->owner != harness::kAnyOwner && GetWindow(window, GW_OWNER) != search->owner)
      return TRUE;
  }
  search->found = window;
  return FALSE;
}

}  // namespace

HWND FindSetupWindow(DWORD processId, int controlId) {
  Search search = {processId, controlId, nullptr, nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForSetupWindow(DWORD processId, int controlId, DWORD timeoutMs) {
  HWND found = nullptr;
  harness::WaitFor([&] { return (found = FindSetupWindow(processId, controlId)) != nullptr; },
                   timeoutMs);
  return found;
}

HWND FindSetupBox(DWORD processId, HWND owner) {
  Search search = {processId, 0, owner, nullptr};
  EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForSetupBox(DWORD processId, HWND owner, DWORD timeoutMs) {
  HWND found = nullptr;
  harness::WaitFor([&] { return (found = FindSetupBox(processId, owner)) != nullptr; }, timeoutMs);
  return found;
}

HWND CatchWhileHeld(DWORD threadId, const std::function<HWND()>& found,
                    const std::function<void(HWND)>& whileHeld, DWORD timeoutMs) {
  const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, threadId);
  if (!thread) return nullptr;
  HWND caught = nullptr;
  for (const DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs;) {
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) break;  // the thread has ended
    caught = found();
    if (caught) whileHeld(caught);
    ResumeThread(thread);
    if (caught) break;
    Sleep(1);
  }
  CloseHandle(thread);
  return caught;
}

int MeterPercent(HWND meter) {
  if (!meter) return -1;
  const unsigned range = static_cast<uint16_t>(GetWindowLongA(meter, 0));
  const unsigned position = static_cast<uint16_t>(GetWindowLongA(meter, 4));
  return range == 0 ? 0 : static_cast<int>(position * 100 / range);
}

std::vector<FileEntry> ListFiles(const std::string& folder) {
  std::vector<FileEntry> files;
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    files.push_back({data.cFileName, data.nFileSizeLow, data.ftLastWriteTime});
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return files;
}

std::string FormatTime(const FILETIME& time) {
  SYSTEMTIME t;
  FileTimeToSystemTime(&time, &t);
  char text[32];
  wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
            t.wSecond);
  return text;
}

}  // namespace e2e
