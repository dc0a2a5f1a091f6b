// POSIX and Win32 implementations of kxmedium's folder listing, folder creation, folder
// identity and random source. Random bytes come from getrandom() on POSIX and from
// RtlGenRandom (SystemFunction036 of advapi32) on Windows.
#include "tools/kxmedium_os.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#endif

namespace kxmedium {

#ifdef _WIN32

extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* out) {
  out->clear();
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(JoinPath(folder, "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    EntryKind kind = EntryKind::File;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) kind = EntryKind::Folder;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) kind = EntryKind::Other;
    out->push_back({name, kind});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(out->begin(), out->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return true;
}

static bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty() || IsFolder(folder)) return !folder.empty();
  const size_t cut = folder.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0 && folder[cut - 1] != ':')
    MakeFolders(folder.substr(0, cut));
  CreateDirectoryA(folder.c_str(), nullptr);
  return IsFolder(folder);
}

static std::string FullPath(const std::string& path) {
  char full[MAX_PATH * 2];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return {};
  std::string result(full, length);
  while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
  return result;
}

bool SameFolder(const std::string& a, const std::string& b) {
  if (!IsFolder(a) || !IsFolder(b)) return false;
  const std::string fa = FullPath(a), fb = FullPath(b);
  return !fa.empty() && lstrcmpiA(fa.c_str(), fb.c_str()) == 0;
}

bool RandomBytes(uint8_t* buffer, size_t count) {
  while (count > 0) {
    const ULONG piece = count > 0x10000 ? 0x10000 : static_cast<ULONG>(count);
    if (!SystemFunction036(buffer, piece)) return false;
    buffer += piece;
    count -= piece;
  }
  return true;
}

bool FileTimeToDos(const platform::FileTime& time, uint16_t* dosDate, uint16_t* dosTime) {
  // The same conversion the platform layer undoes when the engine stamps extracted files.
  const FILETIME utc{time.low, time.high};
  FILETIME local;
  WORD date = 0, clock = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &clock))
    return false;
  *dosDate = date;
  *dosTime = clock;
  return true;
}

std::string SystemReason() {
  const DWORD code = GetLastError();
  char text[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  // The system's texts end in a full stop and a line break, which the callers' lines do not.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == '.' || text[length - 1] == ' '))
    --length;
  if (length == 0) return "system error " + std::to_string(code);
  return std::string(text, length);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return last == '\\' || last == '/' || last == ':' ? folder + name : folder + "\\" + name;
}

#else

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* out) {
  out->clear();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    EntryKind kind = EntryKind::Other;
    // stat, not lstat: a link to a file is taken as that file.
    if (::stat(JoinPath(folder, name).c_str(), &st) == 0) {
      if (S_ISREG(st.st_mode)) kind = EntryKind::File;
      if (S_ISDIR(st.st_mode)) kind = EntryKind::Folder;
    }
    out->push_back({name, kind});
  }
  ::closedir(dir);
  std::sort(out->begin(), out->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return true;
}

static bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty() || IsFolder(folder)) return !folder.empty();
  const size_t cut = folder.find_last_of('/');
  if (cut != std::string::npos && cut > 0) MakeFolders(folder.substr(0, cut));
  ::mkdir(folder.c_str(), 0777);
  return IsFolder(folder);
}

bool SameFolder(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return S_ISDIR(sa.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool RandomBytes(uint8_t* buffer, size_t count) {
  while (count > 0) {
    const ssize_t n = ::getrandom(buffer, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool FileTimeToDos(const platform::FileTime& time, uint16_t* dosDate, uint16_t* dosTime) {
  constexpr uint64_t kUnixEpochIn100ns = 116444736000000000ull;  // 1601-01-01 to 1970-01-01
  const uint64_t value = (static_cast<uint64_t>(time.high) << 32) | time.low;
  if (value < kUnixEpochIn100ns) return false;
  const time_t seconds = static_cast<time_t>((value - kUnixEpochIn100ns) / 10000000);
  std::tm local{};
  if (!::localtime_r(&seconds, &local)) return false;
  const int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  *dosDate =
      static_cast<uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  // A leap second (60) would overflow the 5-bit field; it is taken as 58.
  const int half = (local.tm_sec > 59 ? 59 : local.tm_sec) / 2;
  *dosTime = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | half);
  return true;
}

std::string SystemReason() { return std::strerror(errno ? errno : EIO); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

#endif

}  // namespace kxmedium
