// Support for the in-process tests of the installation steps under Wine: message boxes
// recorded through the platform's host hook (with owner, caption and exact flags), the run's
// state restored after each test, registry and win.ini values put back, scratch media built
// with kxmedium, and small file helpers on Windows paths.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "res/companions.h"
#include "setup/state.h"
#include "tools/kxmedium_build.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace setup_test {

struct Box {
  HWND owner;
  std::string text;
  bool hasCaption;
  std::string caption;
  unsigned flags;
};

// Records every box shown through the platform layer and answers it (IDOK unless told).
class BoxRecorder {
 public:
  BoxRecorder() {
    Current() = this;
    previous_ = platform::CurrentHostHooks();
    platform::HostHooks hooks = previous_;
    hooks.messageBox = &BoxRecorder::Record;
    platform::SetHostHooks(hooks);
  }
  ~BoxRecorder() {
    platform::SetHostHooks(previous_);
    Current() = nullptr;
  }
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;

  std::vector<Box> boxes;
  int answer = IDOK;
  // Called while a box "shows", before it is answered.
  std::function<void(const Box&)> onBox;

 private:
  static BoxRecorder*& Current() {
    static BoxRecorder* current = nullptr;
    return current;
  }
  static int Record(platform::WindowHandle owner, const char* text, const char* caption,
                    unsigned flags) {
    BoxRecorder* self = Current();
    self->boxes.push_back({static_cast<HWND>(owner), text ? text : "", caption != nullptr,
                           caption ? caption : "", flags});
    if (self->onBox) self->onBox(self->boxes.back());
    return self->answer;
  }
  platform::HostHooks previous_;
};

// The run-wide record as the test found it, put back afterwards.
class SetupStateGuard {
 public:
  SetupStateGuard() : saved_(g_setup) {
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    folder_ = folder;
    g_setup.instance = GetModuleHandleA(nullptr);
    lstrcpyA(g_setup.title, "Karvex Setup");
    lstrcpyA(g_setup.actionText, "Installing");
  }
  ~SetupStateGuard() {
    SetCurrentDirectoryA(folder_.c_str());
    g_setup = saved_;
  }

 private:
  SetupState saved_;
  std::string folder_;
};

// One registry value under HKEY_LOCAL_MACHINE, restored (or removed) when the guard ends.
class RegistryValueGuard {
 public:
  RegistryValueGuard(const char* key, const char* value) : key_(key), value_(value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
    DWORD size = 0;
    if (RegQueryValueExA(handle, value, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
      data_.resize(size);
      existed_ =
          RegQueryValueExA(handle, value, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
      data_.resize(size);
    }
    RegCloseKey(handle);
  }
  ~RegistryValueGuard() {
    HKEY handle;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key_.c_str(), &handle) != ERROR_SUCCESS) return;
    if (existed_)
      RegSetValueExA(handle, value_.c_str(), 0, type_, data_.data(),
                     static_cast<DWORD>(data_.size()));
    else
      RegDeleteValueA(handle, value_.c_str());
    RegCloseKey(handle);
  }
  // Stores exactly these bytes (no terminator added) with the given type.
  void Set(DWORD type, const std::string& bytes) {
    HKEY handle;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, key_.c_str(), &handle), ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(handle, value_.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS);
    RegCloseKey(handle);
  }
  void Remove() {
    HKEY handle;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, key_.c_str(), &handle) != ERROR_SUCCESS) return;
    RegDeleteValueA(handle, value_.c_str());
    RegCloseKey(handle);
  }

 private:
  std::string key_;
  std::string value_;
  bool existed_ = false;
  DWORD type_ = REG_SZ;
  std::vector<BYTE> data_;
};

// The "zip" key of win.ini's [extensions], put back afterwards.
class ZipAssociationGuard {
 public:
  ZipAssociationGuard() {
    char value[512];
    GetProfileStringA("extensions", "zip", "\x01", value, sizeof value);
    existed_ = std::strcmp(value, "\x01") != 0;
    saved_ = value;
  }
  ~ZipAssociationGuard() {
    WriteProfileStringA("extensions", "zip", existed_ ? saved_.c_str() : nullptr);
  }
  void Set(const std::string& value) { WriteProfileStringA("extensions", "zip", value.c_str()); }
  void Remove() { WriteProfileStringA("extensions", "zip", nullptr); }

 private:
  bool existed_ = false;
  std::string saved_;
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

inline std::string ShortPath(const std::string& path) {
  char out[MAX_PATH] = "";
  GetShortPathNameA(path.c_str(), out, sizeof out);
  return out;
}

// A fresh folder under the Windows temporary folder, with a trailing backslash.
inline std::string FreshFolder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + name;
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

// Builds a medium in folder (with trailing backslash) with kxmedium: the given payload files
// (name, content) and the seven companion texts, each companion.size bytes long.
inline bool BuildMedium(const std::string& work,
                        const std::vector<std::pair<std::string, std::string>>& payload,
                        size_t companionSize = 100, bool storeOnly = true) {
  const std::string companions = work + "companions";
  const std::string files = work + "payload";
  CreateDirectoryA(companions.c_str(), nullptr);
  CreateDirectoryA(files.c_str(), nullptr);
  for (const CompanionFile* c = CompanionFiles; c->name; ++c)
    WriteFile(companions + "\\" + c->name, std::string(companionSize, 'c'));
  for (const auto& [name, bytes] : payload) WriteFile(files + "\\" + name, bytes);
  const std::string setupProgram = work + "SETUP.EXE";
  WriteFile(setupProgram, "MZ setup stand-in for the medium's time stamp");
  kxmedium::BuildOptions options;
  options.setupProgram = setupProgram;
  options.companionsDir = companions;
  options.payloadDir = files;
  options.mediumDir = work + "medium";
  options.storeOnly = storeOnly;
  return kxmedium::BuildMedium(options) == 0;
}

// Flips one byte inside the data of the first entry of a ZIP file whose data is longer than
// its 12-byte encryption header; false when there is none.
inline bool DamageFirstEntryData(const std::string& archive) {
  std::string bytes = ReadFile(archive);
  size_t at = 0;
  auto u16 = [&](size_t p) {
    return static_cast<uint8_t>(bytes[p]) | static_cast<uint8_t>(bytes[p + 1]) << 8;
  };
  auto u32 = [&](size_t p) {
    return static_cast<uint32_t>(u16(p)) | static_cast<uint32_t>(u16(p + 2)) << 16;
  };
  while (at + 30 <= bytes.size() && bytes.compare(at, 4, "PK\x03\x04") == 0) {
    const size_t data = at + 30 + u16(at + 26) + u16(at + 28);
    const uint32_t size = u32(at + 18);
    if (size > 12) {
      bytes[data + size - 1] ^= 0x5A;
      std::ofstream(archive, std::ios::binary) << bytes;
      return true;
    }
    at = data + size;
  }
  return false;
}

}  // namespace setup_test
