// Owning handle types of the Windows build: classic files, registry keys, global memory held
// locked, device contexts, GDI objects and their selection into a device context, and kernel
// handles. Each releases its resource with the call that belongs to it when its scope ends.
#pragma once

#include "platform/handles.h"

#include <windows.h>

namespace platform {

struct ClassicFileTraits {
  using Value = HFILE;
  static HFILE Invalid() { return HFILE_ERROR; }
  static void Close(HFILE file) { _lclose(file); }
};
// A file of _lopen or _lcreat.
using ClassicFile = UniqueHandle<ClassicFileTraits>;

struct RegistryKeyTraits {
  using Value = HKEY;
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

// A kernel object: an event, a process or a thread (not CreateFile's files, whose invalid value
// is INVALID_HANDLE_VALUE).
struct KernelHandleTraits {
  using Value = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// A device context of CreateCompatibleDC.
struct MemoryDcTraits {
  using Value = HDC;
  static HDC Invalid() { return nullptr; }
  static void Close(HDC dc) { DeleteDC(dc); }
};
using MemoryDc = UniqueHandle<MemoryDcTraits>;

// A pen, brush, bitmap or font; it must not be selected into a device context when it goes.
template <class Object>
struct GdiObjectTraits {
  using Value = Object;
  static Object Invalid() { return nullptr; }
  static void Close(Object object) { DeleteObject(object); }
};
template <class Object>
using GdiObject = UniqueHandle<GdiObjectTraits<Object>>;

// A global memory block, allocated and locked for its owner's scope.
class LockedGlobalMemory {
 public:
  LockedGlobalMemory(UINT flags, SIZE_T size) : memory_(GlobalAlloc(flags, size)) {
    if (memory_) data_ = GlobalLock(memory_);
  }
  ~LockedGlobalMemory() {
    if (data_) GlobalUnlock(memory_);
    if (memory_) GlobalFree(memory_);
  }
  LockedGlobalMemory(const LockedGlobalMemory&) = delete;
  LockedGlobalMemory& operator=(const LockedGlobalMemory&) = delete;

  void* data() const { return data_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  HGLOBAL memory_;
  void* data_ = nullptr;
};

// A window's device context (the screen's for a null window), from GetDC to ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context for a scope; the object selected before comes
// back at its end, so that the object can then be deleted.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (previous_) SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace platform
