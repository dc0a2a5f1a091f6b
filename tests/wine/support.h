// Support for the in-process Wine tests of the setup's steps and windows: every message box
// recorded through the platform's host hook (owner, text, caption, flags) and answered, the
// run-wide state fresh for each test, registry and profile values put back, the setup's
// dialogs from the real templates, and scratch files and media built with kxmedium.
#pragma once

#include "extract/extract.h"
#include "res/companions.h"
#include "res/dialog.h"
#include "setup/install.h"
#include "setup/state.h"
#include "tests/wine/harness/harness.h"
#include "tools/kxmedium_build.h"
#include "ui/messages.h"
#include "ui/meter.h"
#include "ui/progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace kxtest {

struct Box {
  HWND owner;
  std::string text;
  std::string caption;  // "<none>" for a box without caption
  unsigned flags;
  bool operator==(const Box&) const = default;
};
inline void PrintTo(const Box& box, std::ostream* out) {
  *out << box.owner << " \"" << box.text << "\" " << box.caption << " " << box.flags;
}

// Records every box shown through the platform layer; answers them in turn with `answers`,
// IDOK once those are used up.
struct BoxRecorder {
  explicit BoxRecorder(std::vector<int> inTurn = {}) : answers(std::move(inTurn)) {
    current = this;
    platform::HostHooks hooks = previous;
    hooks.messageBox = [](platform::WindowHandle owner, const char* text, const char* caption,
                          unsigned flags) {
      current->boxes.push_back({HWND(owner), text, caption ? caption : "<none>", flags});
      const size_t k = current->boxes.size() - 1;
      return k < current->answers.size() ? current->answers[k] : IDOK;
    };
    platform::SetHostHooks(hooks);
  }
  ~BoxRecorder() { platform::SetHostHooks(previous); }
  std::vector<Box> boxes;
  std::vector<int> answers;
  const platform::HostHooks previous = platform::CurrentHostHooks();
  static inline BoxRecorder* current = nullptr;
};

// A fresh run-wide state as at start-up (module, title, action text, Meter class), with the
// test program's current folder; the previous state is put back afterwards.
struct FreshState {
  FreshState() : saved(g_setup) {
    g_setup = SetupState{};
    LoadSetupTexts(GetModuleHandleA(nullptr));
    RegisterMeterClass(GetModuleHandleA(nullptr));
    GetCurrentDirectoryA(MAX_PATH, folder);
  }
  ~FreshState() {
    SetCurrentDirectoryA(folder);
    g_setup = saved;
  }
  const SetupState saved;
  char folder[MAX_PATH];
};

// A value under HKEY_LOCAL_MACHINE, put back when the guard ends.
struct RegistryValueGuard {
  RegistryValueGuard(const char* key, const char* value) : key_(key), value_(value) {
    existed_ = RegGetValueA(HKEY_LOCAL_MACHINE, key, value, RRF_RT_ANY | RRF_NOEXPAND, &type_,
                            data_, &size_) == ERROR_SUCCESS;
  }
  ~RegistryValueGuard() {
    if (existed_) RegSetKeyValueA(HKEY_LOCAL_MACHINE, key_, value_, type_, data_, size_);
    if (!existed_) Remove();
  }
  void Set(DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key_, value_, type, bytes.data(), bytes.size()),
              ERROR_SUCCESS);
  }
  void Remove() { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key_, value_); }

  const char *key_, *value_;
  bool existed_;
  DWORD type_ = REG_SZ, size_ = 1024;
  BYTE data_[1024];
};

// A value of an .ini file (null file: win.ini), put back when the guard ends.
struct ProfileGuard {
  ProfileGuard(const char* file, const char* section, const char* key)
      : file_(file ? file : "win.ini"), section_(section), key_(key), saved_(Read("\x01")) {}
  ~ProfileGuard() { Write(saved_ == "\x01" ? nullptr : saved_.c_str()); }
  void Write(const char* value) { WritePrivateProfileStringA(section_, key_, value, file_); }
  std::string Read(const char* fallback = "") const {
    char value[1024];
    GetPrivateProfileStringA(section_, key_, fallback, value, sizeof value, file_);
    return value;
  }

  const char *file_, *section_, *key_;
  std::string saved_;
};

// The setup's dialogs as the installation creates them: the progress window hidden (and
// recorded in progressWindow), the destination dialog shown with a procedure that does nothing
// (the owner of the boxes its steps show).
struct Dialog {
  explicit Dialog(int id)
      : window(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), nullptr,
                                  id == IDD_PROGRESS ? ProgressDialogProc : Quiet, 0)) {
    if (id == IDD_PROGRESS) g_setup.progressWindow = window;
    if (id != IDD_PROGRESS) ShowWindow(window, SW_SHOW);
  }
  ~Dialog() { DestroyWindow(window); }
  HWND item(int id) const { return GetDlgItem(window, id); }
  std::string Text(int id) const {
    char text[300] = "";
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
  }
  const HWND window;

  static INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
  }
};

// Sees every message sent to a window of this thread before its procedure does.
struct WindowSpy {
  WindowSpy(HWND spied, std::function<void(UINT, WPARAM, LPARAM)> seen)
      : window(spied), observer(std::move(seen)) {
    current = this;
  }
  ~WindowSpy() { UnhookWindowsHookEx(hook); }
  static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->hwnd == current->window) current->observer(sent->message, sent->wParam, sent->lParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  const HWND window;
  const std::function<void(UINT, WPARAM, LPARAM)> observer;
  const HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, Proc, nullptr, GetCurrentThreadId());
  static inline WindowSpy* current = nullptr;
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
  const platform::KernelHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                nullptr));
  return SetFileTime(file.get(), &time, &time, &time);
}
inline uint64_t LastWrite(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// A fresh empty folder under the Windows temporary folder named after the running test (and
// suffix; a parameterised test's slash becomes an underscore), with a trailing backslash.
inline std::string FreshFolder(const std::string& suffix = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + " " + info->name() + suffix;
  std::replace(name.begin(), name.end(), '/', '_');
  const std::string folder = (std::filesystem::temp_directory_path() / ("kx " + name)).string();
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
  kxmedium::BuildOptions options;
  options.companionsDir = work + "companions";
  options.payloadDir = work + "payload";
  options.mediumDir = work + "medium";
  options.storeOnly = storeOnly;
  options.setupProgram = setupProgram.empty() ? work + "SETUP.EXE" : setupProgram;
  if (setupProgram.empty()) WriteFile(options.setupProgram, "MZ stand-in");
  CreateDirectoryA(options.companionsDir.c_str(), nullptr);
  CreateDirectoryA(options.payloadDir.c_str(), nullptr);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    WriteFile(options.companionsDir + "\\" + c->name, std::string(companionSize, 'c'));
  for (const auto& [name, bytes] : payload) WriteFile(options.payloadDir + "\\" + name, bytes);
  return kxmedium::BuildMedium(options) == 0;
}

}  // namespace kxtest
