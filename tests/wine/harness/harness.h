// Drives Win32 windows under Wine the way a person would: finds windows of this process or of
// another one in the same prefix, reads and types control texts, clicks buttons, reads and
// answers message boxes, reads pixels and saves PNG screenshots of the Xvfb screen. It also
// starts the actor program (kxactor.exe) that plays File Manager, a process holding a library
// open and a running main program. Every wait polls with a timeout; nothing sleeps a fixed time.
#pragma once

#include "platform/win32_handles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace harness {

// ---- Waiting ----------------------------------------------------------------------------------
constexpr DWORD kTimeout = 10000;  // default limit of every wait, in milliseconds

// Polls done() (about every 5 ms) until it answers true or timeoutMs have passed; answers
// whether it became true. The calling thread's messages are not dispatched.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = kTimeout);
// The same, dispatching the calling thread's messages between polls (for a thread that owns
// windows: they stay responsive while it waits).
bool WaitForPumping(const std::function<bool()>& done, DWORD timeoutMs = kTimeout);

// ---- Windows ----------------------------------------------------------------------------------
// Top-level window with the class (null: any) and the exact title (null: any), visible or not,
// belonging to process processId (0: any process of the prefix). Class names match without
// regard to case, as the system does. Null when there is none.
HWND FindTopWindow(const char* className, const char* title, DWORD processId = 0);
HWND WaitForTopWindow(const char* className, const char* title, DWORD processId = 0,
                      DWORD timeoutMs = kTimeout);
bool WaitForWindowGone(HWND window, DWORD timeoutMs = kTimeout);
bool WaitForVisible(HWND window, DWORD timeoutMs = kTimeout);
bool WaitForEnabled(HWND window, bool enabled, DWORD timeoutMs = kTimeout);

DWORD ProcessOf(HWND window);
std::string ClassOf(HWND window);
// Text through WM_GETTEXT (any control, edit fields included); bounded by a send timeout, so a
// window whose thread is busy answers "" instead of hanging the caller.
std::string TextOf(HWND window);
// The window's own text without sending it a message (captions, statics, buttons); safe while
// the window's thread is busy without dispatching.
std::string RawTextOf(HWND window);
std::string ControlText(HWND dialog, int id);  // TextOf the control with that id
bool WaitForText(HWND window, const std::string& text, DWORD timeoutMs = kTimeout);

// Replaces the whole text of an edit control by typing: selects everything, then posts one
// WM_CHAR per character, and waits until the control shows the text.
bool TypeText(HWND edit, const std::string& text, DWORD timeoutMs = kTimeout);
// Clicks a button by posting BM_CLICK, as a mouse click would, so that a message box the click
// opens does not block the caller. A disabled or hidden button cannot be clicked: false.
bool Click(HWND button);
bool ClickControl(HWND dialog, int id);

// ---- Message boxes ----------------------------------------------------------------------------
// A message box is a dialog of class #32770 with the static text control 0xFFFF; its icon is
// the static 1088, its buttons have the ids of their answers (1 OK, 2 Cancel, 6 Yes, 7 No).
enum class BoxIcon { None, Error, Question, Warning, Information, Unknown };
const char* IconName(BoxIcon icon);

struct MessageBoxInfo {
  HWND window = nullptr;
  HWND owner = nullptr;  // null: a box without owner
  DWORD processId = 0;
  std::string caption;
  std::string text;
  BoxIcon icon = BoxIcon::None;
  std::vector<int> buttons;  // ids of the visible buttons, left to right
};

// Matches a box whatever its owner.
inline const HWND kAnyOwner = reinterpret_cast<HWND>(~uintptr_t{0});

// A visible message box of process processId (0: any) owned by owner (kAnyOwner: any; null:
// only an unowned box). Null when there is none.
HWND FindMessageBox(DWORD processId, HWND owner = kAnyOwner);
HWND WaitForMessageBox(DWORD processId, HWND owner = kAnyOwner, DWORD timeoutMs = kTimeout);
MessageBoxInfo ReadMessageBox(HWND box);
// Clicks the button with that id, then waits until the box is gone and its owner (if any) is
// enabled again, so that the next step meets a settled screen. False when any of it fails.
bool AnswerMessageBox(HWND box, int buttonId, DWORD timeoutMs = kTimeout);

// Answers, on a thread of its own, the message boxes that the code under test shows in this
// process (for in-process tests, where the box blocks the test's main thread): each expected
// box in turn is read, optionally photographed, and answered, whatever its owner (the test
// checks the recorded owner). Boxes beyond the list are answered too (OK, else No, else
// Cancel) and recorded as unexpected, so a test never hangs.
class BoxAnswerer {
 public:
  struct Step {
    int button = IDOK;       // the answer
    std::string screenshot;  // SaveScreenshot name taken while the box shows; empty: none
  };
  explicit BoxAnswerer(std::vector<Step> steps);
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  // Waits until every expected box has been answered (true) or the time is up (false).
  bool WaitDone(DWORD timeoutMs = kTimeout);
  // Stops the thread; the answers so far stay readable. Called by the destructor.
  void Stop();
  std::vector<MessageBoxInfo> answered() const;    // the expected boxes, in order
  std::vector<MessageBoxInfo> unexpected() const;  // boxes beyond the steps

 private:
  void Run();
  std::vector<Step> steps_;
  DWORD processId_;
  mutable CRITICAL_SECTION lock_;
  std::vector<MessageBoxInfo> answered_;
  std::vector<MessageBoxInfo> unexpected_;
  HANDLE stop_ = nullptr;
  HANDLE done_ = nullptr;
  std::thread thread_;
};

// ---- Pixels and screenshots -------------------------------------------------------------------
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // row by row from the top, as RGB() values
  bool empty() const { return pixels.empty(); }
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The client area of a window of this process, read through the window's own DC (which works
// in-process under Wine).
Image CaptureClient(HWND window);
// The client area of any window, read from the screen (GetDC(NULL)) at its position; empty when
// another window covers any corner or the centre of it (checked with WindowFromPoint).
Image CaptureClientFromScreen(HWND window);
Image CaptureScreen();
// The client rectangle of a window in screen coordinates.
RECT ClientRectOnScreen(HWND window);

// Has the window and its children painted now (their threads paint while they dispatch), then
// polls until the window's area of the screen stays the same between two looks.
bool WaitUntilPainted(HWND window, DWORD timeoutMs = kTimeout);

bool SavePng(const Image& image, const std::string& windowsPath);
// Saves the whole screen as <name>.png in the folder named by KX_SCREEN_DIR (a Unix path, or
// a Windows one). Returns the Windows path written, or "" when KX_SCREEN_DIR is unset or the
// file cannot be written.
std::string SaveScreenshot(const std::string& name);

// ---- Processes and the actor program ------------------------------------------------------------
// A started process; terminated by the destructor if it is still running.
class Process {
 public:
  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  ~Process();
  // commandLine as for CreateProcessA; workDir null: the caller's current folder.
  static Process Start(const std::string& commandLine, const char* workDir = nullptr);
  bool started() const { return handle_ != nullptr; }
  DWORD id() const { return id_; }
  bool Running() const;
  // Waits for the end; true with the exit code when it ended within the time.
  bool WaitExit(DWORD timeoutMs = kTimeout, DWORD* exitCode = nullptr);
  void Terminate();

 private:
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

// The folder of the running program, with a trailing backslash, and a program beside it.
std::string ProgramFolder();
std::string ProgramBeside(const char* fileName);
// Quotes a command-line argument for CreateProcessA.
std::string Quote(const std::string& argument);

// The actor program kxactor.exe (built beside the tests) in one of its roles. Each actor has a
// pair of named events: "ready" (set by the actor once it plays its role) and "release" (set
// by the test to end the role early).
class Actor {
 public:
  // Keeps the file open (others may read, nobody may open it exclusively) for holdMs
  // milliseconds (INFINITE: until Release), then closes it and ends.
  static Actor HoldFile(const std::string& path, DWORD holdMs);
  // A File Manager frame window (class WFS_Frame) that holds the add-on library open (if the
  // file exists) and, on message 1543 (reload add-ons), releases it after releaseDelayMs
  // milliseconds (INFINITE: never). Its title shows "reloaded" once the message has arrived.
  static Actor FileManager(const std::string& library, DWORD releaseDelayMs);
  // A top-level window of the given class (KarvexWClass, Karvex2WClass) until Release.
  static Actor MainWindow(const char* className);
  // A message box without owner, captioned "kxactor", with the given text and MessageBoxA
  // flags; the process's exit code is the answer.
  static Actor ShowBox(const std::string& text, UINT flags);

  bool WaitReady(DWORD timeoutMs = kTimeout);
  void Release();  // ends the role early: the file is closed, the window goes
  bool WaitExit(DWORD timeoutMs = kTimeout);
  Process& process() { return process_; }
  HWND window() const;  // the actor's window (File Manager, main window), once ready

  Actor(Actor&&) noexcept = default;
  Actor& operator=(Actor&&) noexcept = default;
  ~Actor();

 private:
  Actor() = default;
  static Actor Start(const std::string& arguments, const std::string& name);
  struct Events {
    platform::KernelHandle ready;
    platform::KernelHandle release;
  };
  Events events_;
  Process process_;
  std::string className_;
};

// The window class and the message of File Manager that the actor plays.
constexpr char kFileManagerClass[] = "WFS_Frame";
constexpr UINT kReloadExtensions = WM_USER + 0x207;  // 1543

// ---- Paths --------------------------------------------------------------------------------------
// A fresh empty folder under the Windows temporary folder (emptied if it exists), with a
// trailing backslash.
std::string FreshFolder(const std::string& name);
// A Unix path as Wine sees it (Z: is the Unix root); Windows paths are returned unchanged.
std::string WindowsPath(const std::string& path);

}  // namespace harness
