// Drives SETUP.EXE's windows under Wine from outside, the way a person would: finds the
// windows and message boxes of a process, reads their texts and pixels, types and clicks,
// and starts processes. Every wait polls with a timeout; nothing sleeps a fixed time.
#pragma once

#include "platform/win32_handles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace harness {

constexpr DWORD kTimeout = 10000;  // default limit of every wait, in milliseconds

// Polls done() about every 5 ms until it answers true (true) or timeoutMs have passed (false).
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = kTimeout);

// The window's own text without sending it a message: safe while its thread is held still.
std::string RawTextOf(HWND window);
// Text through WM_GETTEXT (edit fields included), bounded by a send timeout.
std::string ControlText(HWND dialog, int id);
// Replaces an edit control's text by typing it, and waits until the control shows it.
bool TypeText(HWND edit, const std::string& text);
// Posts BM_CLICK, as a mouse click would; a disabled or hidden button cannot be clicked.
bool ClickControl(HWND dialog, int id);

// SETUP's visible dialog that holds a control with that id (the destination dialog IDC_FOLDER,
// the progress window IDC_METER), or else (controlId 0) its message box owned by owner
// (kAnyOwner: any owner). Null when there is none.
inline const HWND kAnyOwner = reinterpret_cast<HWND>(~uintptr_t{0});
HWND FindSetupWindow(DWORD processId, int controlId, HWND owner = kAnyOwner);
HWND WaitForSetupWindow(DWORD processId, int controlId, HWND owner = kAnyOwner,
                        DWORD timeoutMs = kTimeout);

struct MessageBoxInfo {
  std::string caption;
  std::string text;
  std::vector<int> buttons;  // ids of the visible buttons, left to right
};
MessageBoxInfo ReadMessageBox(HWND box);
// Clicks the button and waits until the box is gone.
bool AnswerMessageBox(HWND box, int buttonId);

// The client area of a window of this process, or an area of the screen (any process), as
// RGB() values row by row from the top.
std::vector<COLORREF> CaptureClient(HWND window);
std::vector<COLORREF> CaptureScreen(const RECT& area);
// Has the window painted, then polls until its area of the screen stays the same.
bool WaitUntilPainted(HWND window, DWORD timeoutMs = kTimeout);
// A started process, terminated by the destructor if it is still running.
class Process {
 public:
  Process(const std::string& commandLine, const char* workDir = nullptr);
  ~Process();
  bool started() const { return static_cast<bool>(handle_); }
  DWORD id() const { return id_; }
  bool Running() const;
  bool WaitExit(DWORD timeoutMs = kTimeout, DWORD* exitCode = nullptr);

 private:
  platform::KernelHandle handle_;
  DWORD id_ = 0;
};

// A Unix path as Wine sees it (Z: is the Unix root); Windows paths are returned unchanged.
std::string WindowsPath(const std::string& path);

}  // namespace harness
