// Win32 side of the platform layer: the classic file calls, FindFirstFileA, the DOS time
// conversions, the OEM/ANSI conversions, string resources, wvsprintfA and USER32 messaging.
#include <windows.h>

#include "platform/platform.h"

#include <cstdio>
#include <cstring>

namespace platform {

namespace {
HANDLE AsHandle(int file) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(file)); }
FILETIME ToWin(const FileTime& t) { return {t.low, t.high}; }
FileTime FromWin(const FILETIME& t) { return {t.dwLowDateTime, t.dwHighDateTime}; }
}  // namespace

int FileOpenRead(const char* path) {
  return static_cast<int>(_lopen(path, OF_READ | OF_SHARE_DENY_WRITE));
}

int FileCreate(const char* path) { return static_cast<int>(_lcreat(path, 0)); }

unsigned FileRead(int file, void* buffer, unsigned count) {
  if (count > kMaxTransfer) count = kMaxTransfer;
  return _lread(static_cast<HFILE>(file), buffer, count);
}

unsigned FileWrite(int file, const void* buffer, unsigned count) {
  if (count > kMaxTransfer) count = kMaxTransfer;
  return _lwrite(static_cast<HFILE>(file), static_cast<LPCCH>(buffer), count);
}

int64_t FileSeek(int file, int64_t offset, SeekFrom from) {
  // _llseek takes a signed 32-bit distance and answers the low 32 bits of the new position,
  // HFILE_ERROR (-1) when it fails, among them every move past 4 GiB. So a position from 2 to
  // 4 GiB comes back negative and is taken as unsigned, and a forward move too long for one
  // call is made in steps; a move from the start beyond 2 GiB starts with the first 2 GiB.
  const HFILE handle = static_cast<HFILE>(file);
  if (offset < 0 && (from == SeekFrom::Begin || offset < INT32_MIN)) return -1;
  int method = from == SeekFrom::Begin ? FILE_BEGIN : FILE_CURRENT;
  LONG result = 0;
  do {
    const int64_t step = offset > INT32_MAX ? INT32_MAX : offset;
    result = _llseek(handle, static_cast<LONG>(step), method);
    if (result == HFILE_ERROR) return -1;
    offset -= step;
    method = FILE_CURRENT;
  } while (offset > 0);
  return static_cast<uint32_t>(result);
}

void FileClose(int file) { _lclose(static_cast<HFILE>(file)); }

bool FileDelete(const char* path) { return std::remove(path) == 0; }

bool FindFirst(const char* path, FindData* out) {
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(path, &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  out->lastWrite = FromWin(data.ftLastWriteTime);
  out->sizeLow = data.nFileSizeLow;
  out->isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  lstrcpynA(out->name, data.cFileName, sizeof out->name);
  return true;
}

bool GetFileTimes(int file, FileTime* created, FileTime* accessed, FileTime* written) {
  FILETIME c, a, w;
  if (!GetFileTime(AsHandle(file), &c, &a, &w)) return false;
  if (created) *created = FromWin(c);
  if (accessed) *accessed = FromWin(a);
  if (written) *written = FromWin(w);
  return true;
}

bool SetFileTimes(int file, const FileTime* created, const FileTime* accessed,
                  const FileTime* written) {
  FILETIME c, a, w;
  if (created) c = ToWin(*created);
  if (accessed) a = ToWin(*accessed);
  if (written) w = ToWin(*written);
  return SetFileTime(AsHandle(file), created ? &c : nullptr, accessed ? &a : nullptr,
                     written ? &w : nullptr) != 0;
}

bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
  FILETIME local, utc;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) return false;
  if (!LocalFileTimeToFileTime(&local, &utc)) return false;
  *out = FromWin(utc);
  return true;
}

bool OemTextToAnsi(char* text, size_t) {
  OemToCharA(text, text);
  return true;
}

void AnsiTextToOem(char* text) { CharToOemA(text, text); }

bool Utf8TextToAnsi(char* text, size_t capacity) {
  wchar_t wide[1024];
  const int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 1024);
  if (units <= 0) return false;
  BOOL lossy = FALSE;
  char ansi[2048];
  // No best fit: a name the code page cannot hold must not be written as a similar one.
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, sizeof ansi,
                                         nullptr, &lossy);
  if (length <= 0 || static_cast<size_t>(length) > capacity) return false;
  std::memcpy(text, ansi, static_cast<size_t>(length));
  return !lossy;
}

bool SelectionNameEquals(const char* selection, const char* stored, bool storedIsUtf8) {
  char name[MAX_PATH];
  lstrcpynA(name, stored, sizeof name);
  if (storedIsUtf8 && !Utf8TextToAnsi(name, sizeof name)) return false;
  return lstrcmpiA(selection, name) == 0;
}

int LoadStringResource(ModuleHandle module, unsigned id, char* buffer, int cap) {
  if (CurrentHostHooks().loadString) return CurrentHostHooks().loadString(id, buffer, cap);
  HINSTANCE instance = module ? static_cast<HINSTANCE>(module) : GetModuleHandleA(nullptr);
  return LoadStringA(instance, id, buffer, cap);
}

int FormatTextV(char* out, size_t cap, const char* format, va_list args) {
  if (cap == 0) return 0;
  // wvsprintfA writes at most 1024 characters and a terminator; bound that to the caller's cap.
  char expanded[1025];
  int length = wvsprintfA(expanded, format, args);
  if (length < 0) length = 0;
  if (static_cast<size_t>(length) >= cap) length = static_cast<int>(cap - 1);
  std::memcpy(out, expanded, static_cast<size_t>(length));
  out[length] = '\0';
  return length;
}

int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned flags) {
  if (CurrentHostHooks().messageBox)
    return CurrentHostHooks().messageBox(owner, text, caption, flags);
  return MessageBoxA(static_cast<HWND>(owner), text, caption, flags);
}

intptr_t SendWindowMessage(WindowHandle window, unsigned message, uintptr_t wParam,
                           intptr_t lParam) {
  if (CurrentHostHooks().sendMessage)
    return CurrentHostHooks().sendMessage(window, message, wParam, lParam);
  return SendMessageA(static_cast<HWND>(window), message, wParam, lParam);
}

void DispatchPendingMessages() {
  if (CurrentHostHooks().pumpMessages) return CurrentHostHooks().pumpMessages();
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace platform
