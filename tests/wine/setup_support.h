// Shared by the Wine tests of the setup's windows and steps: a fresh run-wide state with the
// real texts of this test program's resources, the progress window created as SETUP.EXE
// creates it, and a spy that sees the messages a window receives.
#pragma once

#include <windows.h>

#include "res/dialog.h"
#include "setup/state.h"
#include "tests/wine/harness/harness.h"
#include "ui/messages.h"
#include "ui/meter.h"
#include "ui/progress.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

// Starts a run: every field empty, the module, title and action text as at start-up, and the
// Meter class registered.
inline void ResetSetupState() {
  g_setup = SetupState{};
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  g_setup.instance = instance;
  LoadStringA(instance, MSG_TITLE, g_setup.title, sizeof g_setup.title);
  LoadStringA(instance, MSG_ACTION_INSTALLING, g_setup.actionText, sizeof g_setup.actionText);
  static const bool registered = (RegisterMeterClass(instance), true);
  (void)registered;
}

// A member that resets the state before the members declared after it are built.
struct FreshSetupState {
  FreshSetupState() { ResetSetupState(); }
};

// The progress window as the installation creates it: hidden, recorded in progressWindow.
class ProgressWindow {
 public:
  ProgressWindow() {
    window_ = CreateDialogParamA(static_cast<HINSTANCE>(g_setup.instance),
                                 MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    g_setup.progressWindow = window_;
  }
  ~ProgressWindow() {
    if (IsWindow(window_)) DestroyWindow(window_);
    g_setup.progressWindow = nullptr;
  }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // Shows it and sets the meter's range as the installation does after showing.
  void Show(unsigned range = 0) {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    SendDlgItemMessageA(window_, IDC_METER, MM_SETPOS, 0, 0);
    SendDlgItemMessageA(window_, IDC_METER, MM_SETRANGE, range, 0);
  }
  HWND window() const { return window_; }
  HWND item(int id) const { return GetDlgItem(window_, id); }
  unsigned MeterPosition() const {
    return static_cast<unsigned>(SendDlgItemMessageA(window_, IDC_METER, MM_GETPOS, 0, 0));
  }

 private:
  HWND window_ = nullptr;
};

// The destination dialog's template with a procedure that does nothing: the owner of the
// verify pass's boxes and the dialog whose prompts the shell-extension release rewrites.
class DestinationDialogStandIn {
 public:
  DestinationDialogStandIn() {
    window_ = CreateDialogParamA(static_cast<HINSTANCE>(g_setup.instance),
                                 MAKEINTRESOURCEA(IDD_DESTINATION), nullptr, &Proc, 0);
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
  }
  ~DestinationDialogStandIn() { DestroyWindow(window_); }
  DestinationDialogStandIn(const DestinationDialogStandIn&) = delete;
  DestinationDialogStandIn& operator=(const DestinationDialogStandIn&) = delete;
  HWND window() const { return window_; }

 private:
  static INT_PTR CALLBACK Proc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
  }
  HWND window_ = nullptr;
};

// Sees every message sent or dispatched to a window of this thread before its procedure does.
class WindowSpy {
 public:
  using Observer = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
  WindowSpy(HWND window, Observer observer) : window_(window), observer_(std::move(observer)) {
    spies()[window] = this;
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
  }
  ~WindowSpy() {
    if (IsWindow(window_))
      SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    spies().erase(window_);
  }
  WindowSpy(const WindowSpy&) = delete;
  WindowSpy& operator=(const WindowSpy&) = delete;

 private:
  static std::map<HWND, WindowSpy*>& spies() {
    static std::map<HWND, WindowSpy*> all;
    return all;
  }
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowSpy* spy = spies()[window];
    spy->observer_(message, wParam, lParam);
    return CallWindowProcA(spy->previous_, window, message, wParam, lParam);
  }
  HWND window_;
  Observer observer_;
  WNDPROC previous_ = nullptr;
};

// The joined text of a message chain as the user reads it.
inline std::string MessageText(unsigned id) { return LoadMessageText(id); }

// The name of the running test, for folders and screenshots.
inline std::string TestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "-" + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

// A folder prepared by the build (tests/fixtures under the build folder), as Wine sees it.
#ifdef KX_FIXTURES_DIR
inline std::string FixtureFolder(const char* name) {
  return harness::WindowsPath(std::string(KX_FIXTURES_DIR) + "/" + name + "/");
}
#endif
