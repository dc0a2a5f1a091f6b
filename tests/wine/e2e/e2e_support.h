// Runs SETUP.EXE as a user would under Wine and watches it from outside: finds its destination
// dialog, progress window and message boxes (told apart by their controls, since all carry the
// setup's title), photographs the short-lived progress window while its thread is held still,
// and lists what landed in a folder. Shared by the end-to-end tests and the demo driver.
#pragma once

#include <windows.h>

#include "tests/wine/harness/harness.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

inline constexpr char kSetupTitle[] = "Karvex Setup";
inline constexpr char kStandInTitle[] = "Karvex stand-in";  // the stand-in main program's box

// A visible top-level dialog of process processId that has a control with that id (the
// destination dialog has IDC_FOLDER, the progress window IDC_METER); null when there is none.
HWND FindSetupWindow(DWORD processId, int controlId);
HWND WaitForSetupWindow(DWORD processId, int controlId, DWORD timeoutMs = harness::kTimeout);

// A visible message box of processId (owner: as for harness::FindMessageBox). Unlike the
// harness's own search it skips the destination dialog, whose unnumbered static looks like a
// box's text.
HWND FindSetupBox(DWORD processId, HWND owner = harness::kAnyOwner);
HWND WaitForSetupBox(DWORD processId, HWND owner = harness::kAnyOwner,
                     DWORD timeoutMs = harness::kTimeout);

// Samples the windows of thread threadId with the thread suspended, about every millisecond
// of its running time, until found() answers a window (the thread stays suspended while
// whileHeld runs with it) or the time is up. Returns that window, or null.
HWND CatchWhileHeld(DWORD threadId, const std::function<HWND()>& found,
                    const std::function<void(HWND)>& whileHeld,
                    DWORD timeoutMs = harness::kTimeout);

// The percentage a Meter control shows, read from its window values (range, then position,
// 16 bits each); -1 for no window. Safe while the control's thread is suspended.
int MeterPercent(HWND meter);

struct FileEntry {
  std::string name;
  uint32_t size = 0;
  FILETIME lastWrite = {};
};
// The files (not folders) of a folder, in the order the file system lists them.
std::vector<FileEntry> ListFiles(const std::string& folder);
// "2026-12-06 20:41:37" in UTC.
std::string FormatTime(const FILETIME& time);

}  // namespace e2e
