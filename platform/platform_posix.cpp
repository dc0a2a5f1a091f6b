// POSIX side of the platform layer: file calls on descriptors, paths with backslashes taken
// as separators, local time through mktime, code page 437 to and from UTF-8, and windows and
// message boxes handed to the host program's hooks.
#include "platform/cp437.h"
#include "platform/platform.h"
#include "platform/string_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace platform {

namespace {

std::string NativePath(const char* path) {
  std::string native(path);
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

constexpr uint64_t kUnixEpochIn100ns = 116444736000000000ull;  // 1601-01-01 to 1970-01-01

FileTime FromTimespec(const timespec& ts) {
  const uint64_t value = static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
                         static_cast<uint64_t>(ts.tv_nsec) / 100 + kUnixEpochIn100ns;
  return {static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

timespec ToTimespec(const FileTime& ft) {
  const uint64_t value = (static_cast<uint64_t>(ft.high) << 32) | ft.low;
  const int64_t since = static_cast<int64_t>(value - kUnixEpochIn100ns);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(since / 10000000);
  ts.tv_nsec = static_cast<long>((since % 10000000) * 100);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000;
    --ts.tv_sec;
  }
  return ts;
}

bool HasWildcard(const char* text) { return std::strpbrk(text, "*?") != nullptr; }

void FillFindData(const struct stat& st, const char* name, FindData* out) {
  out->lastWrite = FromTimespec(st.st_mtim);
  out->sizeLow = static_cast<uint32_t>(st.st_size);
  out->isFolder = S_ISDIR(st.st_mode);
  std::snprintf(out->name, sizeof out->name, "%s", name);
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code point that starts at text, which is advanced past it; a byte that does not start
// valid UTF-8 stands for itself (as 0xDC00 + byte, so that it never equals a letter).
uint32_t NextCodePoint(const char*& text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const int extra = *p >= 0xF0 ? 3 : *p >= 0xE0 ? 2 : *p >= 0xC0 ? 1 : 0;
  uint32_t cp = extra ? *p & (0x3F >> extra) : *p;
  bool valid = *p < 0x80 || extra > 0;
  for (int i = 1; valid && i <= extra; ++i) {
    if ((p[i] & 0xC0) != 0x80) valid = false;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (!valid) {
    ++text;
    return 0xDC00 + *p;
  }
  text += 1 + extra;
  return cp;
}

// Drops the "l" size modifiers of the wsprintf dialect: its %lx is 32 bits, as the callers pass.
std::string WithoutLongModifiers(const char* format) {
  std::string out;
  for (const char* p = format; *p; ++p) {
    out += *p;
    if (*p != '%') continue;
    ++p;
    while (*p && std::strchr("-+ #0123456789.", *p)) out += *p++;
    while (*p == 'l') ++p;
    if (!*p) break;
    out += *p;
  }
  return out;
}

}  // namespace

int FileOpenRead(const char* path) {
  return ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
}

int FileCreate(const char* path) {
  return ::open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

unsigned FileRead(int file, void* buffer, unsigned count) {
  if (count > kMaxTransfer) count = kMaxTransfer;
  unsigned done = 0;
  while (done < count) {
    const ssize_t n = ::read(file, static_cast<char*>(buffer) + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return kIoError;
    if (n == 0) break;
    done += static_cast<unsigned>(n);
  }
  return done;
}

unsigned FileWrite(int file, const void* buffer, unsigned count) {
  if (count > kMaxTransfer) count = kMaxTransfer;
  unsigned done = 0;
  while (done < count) {
    const ssize_t n = ::write(file, static_cast<const char*>(buffer) + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done ? done : kIoError;
    done += static_cast<unsigned>(n);
  }
  return done;
}

int64_t FileSeek(int file, int64_t offset, SeekFrom from) {
  static_assert(sizeof(off_t) == 8, "archives past 2 GiB need 64-bit file offsets");
  const off_t result =
      ::lseek(file, static_cast<off_t>(offset), from == SeekFrom::Begin ? SEEK_SET : SEEK_CUR);
  return result < 0 ? -1 : static_cast<int64_t>(result);
}

void FileClose(int file) { ::close(file); }

bool FileDelete(const char* path) { return std::remove(NativePath(path).c_str()) == 0; }

bool FindFirst(const char* path, FindData* out) {
  const std::string native = NativePath(path);
  struct stat st {};
  const size_t slash = native.rfind('/');
  const std::string last = slash == std::string::npos ? native : native.substr(slash + 1);
  if (!HasWildcard(last.c_str())) {
    if (native.empty() || ::stat(native.c_str(), &st) != 0) return false;
    FillFindData(st, last.c_str(), out);
    return true;
  }
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = ::readdir(dir)) {
    if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
    if (::fnmatch(last.c_str(), entry->d_name, FNM_CASEFOLD) != 0) continue;
    if (::stat((folder + "/" + entry->d_name).c_str(), &st) != 0) continue;
    FillFindData(st, entry->d_name, out);
    found = true;
    break;
  }
  ::closedir(dir);
  return found;
}

bool GetFileTimes(int file, FileTime* created, FileTime* accessed, FileTime* written) {
  struct stat st {};
  if (::fstat(file, &st) != 0) return false;
  if (created) *created = FromTimespec(st.st_mtim);
  if (accessed) *accessed = FromTimespec(st.st_atim);
  if (written) *written = FromTimespec(st.st_mtim);
  return true;
}

bool SetFileTimes(int file, const FileTime*, const FileTime* accessed, const FileTime* written) {
  timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (accessed) times[0] = ToTimespec(*accessed);
  if (written) times[1] = ToTimespec(*written);
  return ::futimens(file, times) == 0;
}

bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, FileTime* out) {
  const int day = dosDate & 0x1F, month = (dosDate >> 5) & 0x0F, year = (dosDate >> 9) + 1980;
  const int second = (dosTime & 0x1F) * 2, minute = (dosTime >> 5) & 0x3F, hour = dosTime >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59) return false;
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const time_t utc = std::mktime(&local);
  if (utc == static_cast<time_t>(-1)) return false;
  *out = FromTimespec(timespec{utc, 0});
  return true;
}

bool OemTextToAnsi(char* text, size_t capacity) {
  std::string converted;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    AppendUtf8(converted, *p < 0x80 ? *p : kCp437High[*p - 0x80]);
  if (converted.size() + 1 > capacity) return false;
  std::memcpy(text, converted.c_str(), converted.size() + 1);
  return true;
}

void AnsiTextToOem(char* text) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
  char* out = text;
  while (*in) {
    uint32_t cp = *in;
    int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
    if (cp >= 0x80 && cp < 0xC0) extra = -1;  // a stray continuation byte
    if (extra > 0) cp &= 0x3F >> extra;
    ++in;
    for (int i = 0; i < extra; ++i, ++in) {
      if ((*in & 0xC0) != 0x80) {
        extra = -1;
        break;
      }
      cp = (cp << 6) | (*in & 0x3F);
    }
    char mapped = '?';
    if (extra == 0) {
      mapped = static_cast<char>(cp);
    } else if (extra > 0) {
      for (int i = 0; i < 128; ++i)
        if (kCp437High[i] == cp) mapped = static_cast<char>(0x80 + i);
    }
    *out++ = mapped;
  }
  *out = '\0';
}

bool Utf8TextToAnsi(char*, size_t) { return true; }

bool SelectionNameEquals(const char* selection, const char* stored, bool storedIsUtf8) {
  std::string name(stored);
  if (!storedIsUtf8) {
    name.clear();
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(stored); *p; ++p)
      AppendUtf8(name, *p < 0x80 ? *p : kCp437High[*p - 0x80]);
  }
  // Letters are folded as the C.UTF-8 locale knows them (built into the C library), ASCII only
  // in the C locale should it be missing.
  static const locale_t letters = [] {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return utf8 ? utf8 : newlocale(LC_CTYPE_MASK, "C", nullptr);
  }();
  const auto fold = [](uint32_t c) { return towlower_l(static_cast<wint_t>(c), letters); };
  const char* a = selection;
  const char* b = name.c_str();
  for (;;) {
    const uint32_t ca = NextCodePoint(a), cb = NextCodePoint(b);
    if (fold(ca) != fold(cb)) return false;
    if (ca == 0) return true;
  }
}

int LoadStringResource(ModuleHandle, unsigned id, char* buffer, int cap) {
  if (CurrentHostHooks().loadString) return CurrentHostHooks().loadString(id, buffer, cap);
  if (cap <= 0) return 0;
  for (size_t i = 0; i < kStringTableSize; ++i) {
    if (kStringTable[i].id != id) continue;
    std::snprintf(buffer, static_cast<size_t>(cap), "%s", kStringTable[i].text);
    return static_cast<int>(std::strlen(buffer));
  }
  buffer[0] = '\0';
  return 0;
}

int FormatTextV(char* out, size_t cap, const char* format, va_list args) {
  if (cap == 0) return 0;
  const std::string plain = WithoutLongModifiers(format);
  const int wanted = std::vsnprintf(out, cap, plain.c_str(), args);
  if (wanted < 0) {
    out[0] = '\0';
    return 0;
  }
  return wanted < static_cast<int>(cap) ? wanted : static_cast<int>(cap - 1);
}

int ShowMessageBox(WindowHandle owner, const char* text, const char* caption, unsigned flags) {
  if (CurrentHostHooks().messageBox)
    return CurrentHostHooks().messageBox(owner, text, caption, flags);
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text);
  return mb::kIdOk;
}

intptr_t SendWindowMessage(WindowHandle window, unsigned message, uintptr_t wParam,
                           intptr_t lParam) {
  if (CurrentHostHooks().sendMessage)
    return CurrentHostHooks().sendMessage(window, message, wParam, lParam);
  return 0;
}

void DispatchPendingMessages() {
  if (CurrentHostHooks().pumpMessages) CurrentHostHooks().pumpMessages();
}

}  // namespace platform
