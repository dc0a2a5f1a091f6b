// kxmedium's operating-system services on POSIX: folder listing, folder creation, folder
// identity, local file times as MS-DOS dates, and random bytes from getrandom().
#include "tools/kxmedium_os.h"

#include <dirent.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace kxmedium {

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

}  // namespace kxmedium
