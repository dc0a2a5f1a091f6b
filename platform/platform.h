// The thin operating-system layer under the portable code (engine, message texts, tools).
// Win32 implementation: platform_win32.cpp, calling the classic Windows functions by name;
// POSIX implementation: platform_posix.cpp, where windows and message boxes belong to the host.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace platform {

using WindowHandle = void*;  // HWND on Windows; an opaque token of the host program on POSIX
using ModuleHandle = void*;  // HINSTANCE on Windows; unused on POSIX

// ---- Classic file calls: integer handles, -1 for failure, at most 65535 bytes a call ----
constexpr int kInvalidFile = -1;
constexpr unsigned kMaxTransfer = 65535;
constexpr unsigned kIoError = 0xFFFFFFFFu;  // HFILE_ERROR as returned by a failed read/write
enum class SeekFrom { Begin, Current };

int FileOpenRead(const char* path);  // open for reading, denying others write access
int FileCreate(const char* path);    // create or truncate, normal attributes
unsigned FileRead(int file, void* buffer, unsigned count);         // bytes read, or kIoError
unsigned FileWrite(int file, const void* buffer, unsigned count);  // bytes written, or kIoError
// The new position, or -1. Natively offsets are 64-bit; on Windows a position is an unsigned
// 32-bit value (up to 4 GiB - 2), and a move the 32-bit file calls cannot make fails.
int64_t FileSeek(int file, int64_t offset, SeekFrom from);
void FileClose(int file);
bool FileDelete(const char* path);

// ---- File lookup and time stamps (FILETIME: 100 ns units since 1601-01-01 UTC) ----
struct FileTime {
  uint32_t low = 0;
  uint32_t high = 0;
  friend bool operator==(const FileTime&, const FileTime&) = default;
};

struct FindData {
  FileTime lastWrite;
  uint32_t sizeLow = 0;
  bool isFolder = false;
  char name[260] = {};  // the name the file system reports for the last component
};

// First match of path (which may hold wildcards in its last component); folders count.
bool FindFirst(const char* path, FindData* out);
bool GetFileTimes(int file, FileTime* created, FileTime* accessed, FileTime* written);
// Null pointers leave the corresponding time unchanged.
bool SetFileTimes(int file, const FileTime* created, const FileTime* accessed,
                  const FileTime* written);
// An MS-DOS date and time taken as local time, converted to UTC.
bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime* out);

// ---- Character sets: OEM (code page 437 on POSIX) and ANSI (UTF-8 on POSIX) ----
// Converts in place; false when the converted text does not fit in capacity bytes
// (the text is then unchanged).
bool OemTextToAnsi(char* text, size_t capacity);
void AnsiTextToOem(char* text);  // never grows the text
// A UTF-8 name from an archive, converted in place to the ANSI character set. False when the
// code page cannot hold every character or the result does not fit: the text then holds the
// closest the code page can show, for messages. On POSIX, where ANSI is UTF-8, unchanged.
bool Utf8TextToAnsi(char* text, size_t capacity);
// True when a selection name (ANSI) names a stored name as the system compares file names:
// lstrcmpiA on Windows, the stored UTF-8 name converted first; on POSIX the stored name is
// decoded (code page 437 or UTF-8) and every letter is compared without regard to case.
bool SelectionNameEquals(const char* selection, const char* stored, bool storedIsUtf8);

// ---- Texts ----
// Loads string resource id into buffer (cap bytes, terminator included); length, 0 if missing.
int LoadStringResource(ModuleHandle module, unsigned id, char* buffer, int cap);
// printf-style formatting in the wsprintf dialect (%d %u %s %c %x %lx %08lx ...), bounded:
// the output is cut to cap - 1 characters. Returns the length written.
int FormatTextV(char* out, size_t cap, const char* format, va_list args);
int FormatText(char* out, size_t cap, const char* format, ...);

// ---- Windows and message boxes ----
namespace mb {
constexpr unsigned kOk = 0x0;
constexpr unsigned kYesNo = 0x4;
constexpr unsigned kIconError = 0x10;
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconInformation = 0x40;
constexpr unsigned kTaskModal = 0x2000;
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
}  // namespace mb

// caption null: the system's default caption.
int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned flags);
intptr_t SendWindowMessage(WindowHandle window, unsigned message, uintptr_t wParam,
                           intptr_t lParam);
// Removes and dispatches every waiting message of the thread, with keyboard translation.
void DispatchPendingMessages();

// A host program (a test, a command-line tool) may decide what boxes and window messages do.
// Unset hooks: on Windows the real calls are made; on POSIX boxes print "caption: text" on
// standard error and answer IDOK, messages answer 0 and the pump does nothing.
struct HostHooks {
  int (*messageBox)(WindowHandle owner, const char* text, const char* caption,
                    unsigned flags) = nullptr;
  intptr_t (*sendMessage)(WindowHandle window, unsigned message, uintptr_t wParam,
                          intptr_t lParam) = nullptr;
  void (*pumpMessages)() = nullptr;
  // Replaces the module's string table (tests); answers like LoadStringResource.
  int (*loadString)(unsigned id, char* buffer, int cap) = nullptr;
};
void SetHostHooks(const HostHooks& hooks);
const HostHooks& CurrentHostHooks();

}  // namespace platform
