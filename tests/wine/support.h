// Support for the in-process Wine tests of the setup's steps and windows: every message box
// recorded through the platform's host hook (owner, text, caption, flags) and answered, the
// run-wide state fresh for each test, registry and profile values put back, the progress
// window and a stand-in destination dialog from the real templates, and scratch files and
// media built with kxmedium.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "res/companions.h"
#include "res/dialog.h"
#include "setup/state.h"
#include "tools/kxmedium_build.h"
#include "ui/messages.h"
#include "ui/meter.h"
#include "ui/progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace kxtest {

struct Box {
  HWND owner;
  std::string text;
  std::string caption;  // "<none>" for a box without caption
  unsigned flags;
};

// Records every box shown through the platform layer; answers them in turn with `answers`,
// IDOK once those are used up.
class BoxRecorder {
 public:
  explicit BoxRecorder(std::vector<int> inTurn = {}) : answers(std::move(inTurn)) {
    Current() = this;
    previous_ = platform::CurrentHostHooks();
    platform::HostHooks hooks = previous_;
    hooks.messageBox = [](platform::WindowHandle owner, const char* text, const char* caption,
                          unsigned flags) {
      BoxRecorder* self = Current();
      self->boxes.push_back({static_cast<HWND>(owner), text, caption ? caption : "<none>", flags});
      const size_t k = self->boxes.size() - 1;
      return k < self->answers.size() ? self->answers[k] : IDOK;
    };
    platform::SetHostHooks(hooks);
  }
  ~BoxRecorder() { platform::SetHostHooks(previous_), Current() = nullptr; }
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;
  std::vector<Box> boxes;
  std::vector<int> answers;

 private:
  static BoxRecorder*& Current() {
    static BoxRecorder* current = nullptr;
    return current;
  }
  platform::HostHooks previous_;
};

// A fresh run-wide state as at start-up (module, title, action text, Meter class), with the
// test program's current folder; the previous state is put back afterwards.
class FreshState {
 public:
  FreshState() : saved_(g_setup) {
    g_setup = SetupState{};
    g_setup.instance = GetModuleHandleA(nullptr);
    LoadStringA(GetModuleHandleA(nullptr), MSG_TITLE, g_setup.title, sizeof g_setup.title);
    LoadStringA(GetModuleHandleA(nullptr), MSG_ACTION_INSTALLING, g_setup.actionText,
                sizeof g_setup.actionText);
    RegisterMeterClass(GetModuleHandleA(nullptr));
    GetCurrentDirectoryA(MAX_PATH, folder_);
  }
  ~FreshState() { SetCurrentDirectoryA(folder_), g_setup = saved_; }

 private:
  SetupState saved_;
  char folder_[MAX_PATH];
};

// A value under HKEY_LOCAL_MACHINE (registry) or of an .ini file (profile; null file: win.ini),
// put back when the guard ends.
class RegistryValueGuard {
 public:
  RegistryValueGuard(const char* key, const char* value) : key_(key), value_(value) {
    DWORD size = sizeof data_;
    existed_ = RegGetValueA(HKEY_LOCAL_MACHINE, key, value, RRF_RT_ANY | RRF_NOEXPAND, &type_,
                            data_, &size) == ERROR_SUCCESS;
    size_ = size;
  }
  ~RegistryValueGuard() {
    if (existed_)
      RegSetKeyValueA(HKEY_LOCAL_MACHINE, key_, value_, type_, data_, size_);
    else
      Remove();
  }
  void Set(DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key_, value_, type, bytes.data(),
                              static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  void Remove() { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key_, value_); }

 private:
  const char *key_, *value_;
  bool existed_;
  DWORD type_ = REG_SZ, size_ = 0;
  BYTE data_[1024];
};

class ProfileGuard {
 public:
  ProfileGuard(const char* file, const char* section, const char* key)
      : file_(file ? file : "win.ini"), section_(section), key_(key), saved_(Read("\x01")) {}
  ~ProfileGuard() { Write(saved_ == "\x01" ? nullptr : saved_.c_str()); }
  void Write(const char* value) { WritePrivateProfileStringA(section_, key_, value, file_); }
  std::string Read(const char* fallback = "") const {
    char value[1024];
    GetPrivateProfileStringA(section_, key_, fallback, value, sizeof value, file_);
    return value;
  }

 private:
  const char *file_, *section_, *key_;
  std::string saved_;
};

// The setup's dialogs as the installation creates them: hidden (the progress window, recorded
// in progressWindow) or shown with a procedure that does nothing (the destination dialog, the
// owner of the boxes its steps show).
class Dialog {
 public:
  explicit Dialog(int id) {
    window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr,
                                 id == IDD_PROGRESS ? ProgressDialogProc : Quiet, 0);
    if (id == IDD_PROGRESS)
      g_setup.progressWindow = window_;
    else
      ShowWindow(window_, SW_SHOW);
  }
  ~Dialog() {
    DestroyWindow(window_);
    if (g_setup.progressWindow == window_) g_setup.progressWindow = nullptr;
  }
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  // Shows it and sets the meter's range as the installation does after showing.
  void Show(unsigned range) {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    SendDlgItemMessageA(window_, IDC_METER, MM_SETPOS, 0, 0);
    SendDlgItemMessageA(window_, IDC_METER, MM_SETRANGE, range, 0);
  }
  HWND window() const { return window_; }
  HWND item(int id) const { return GetDlgItem(window_, id); }
  std::string Text(int id) const {
    char text[300] = "";
    GetDlgItemTextA(window_, id, text, sizeof text);
    return text;
  }

 private:
  static INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
  }
  HWND window_;
};

// Sees every message sent or dispatched to a window before its procedure does.
class WindowSpy {
 public:
  using Observer = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
  WindowSpy(HWND window, Observer observer) : window_(window), observer_(std::move(observer)) {
    SetPropA(window, "kxspy", this);
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
  }
  ~WindowSpy() {
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    RemovePropA(window_, "kxspy");
  }
  WindowSpy(const WindowSpy&) = delete;
  WindowSpy& operator=(const WindowSpy&) = delete;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* spy = static_cast<WindowSpy*>(GetPropA(window, "kxspy"));
    spy->observer_(message, wParam, lParam);
    return CallWindowProcA(spy->previous_, window, message, wParam, lParam);
  }
  HWND window_;
  Observer observer_;
  WNDPROC previous_;
};

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
// Sets the three times of a file (or folder).
inline bool Stamp(const std::string& path, const FILETIME& time) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool ok = SetFileTime(file, &time, &time, &time);
  CloseHandle(file);
  return ok;
}
inline uint64_t LastWrite(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// A fresh empty folder under the Windows temporary folder named after the running test (and
// suffix), with a trailing backslash.
inline std::string FreshFolder(const std::string& suffix = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder =
      std::string(temp) + "kx " + info->test_suite_name() + " " + info->name() + suffix;
  for (size_t k = std::strlen(temp); k < folder.size(); ++k)
    if (folder[k] == '/') folder[k] = '_';
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

// Builds work + "medium\\" with kxmedium from the payload files (name, content) and the seven
// companion texts of companionSize bytes each; SETUP.EXE is a stand-in unless setupProgram.
inline bool BuildMedium(const std::string& work,
                        const std::vector<std::pair<std::string, std::string>>& payload,
                        size_t companionSize = 100, bool storeOnly = true,
                        const std::string& setupProgram = "") {
  const std::string companions = work + "companions", files = work + "payload";
  CreateDirectoryA(companions.c_str(), nullptr);
  CreateDirectoryA(files.c_str(), nullptr);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    WriteFile(companions + "\\" + c->name, std::string(companionSize, 'c'));
  for (const auto& [name, bytes] : payload) WriteFile(files + "\\" + name, bytes);
  kxmedium::BuildOptions options;
  options.setupProgram = setupProgram.empty() ? work + "SETUP.EXE" : setupProgram;
  if (setupProgram.empty()) WriteFile(options.setupProgram, "MZ stand-in");
  options.companionsDir = companions;
  options.payloadDir = files;
  options.mediumDir = work + "medium";
  options.storeOnly = storeOnly;
  return kxmedium::BuildMedium(options) == 0;
}

}  // namespace kxtest
