// kxmedium's operating-system services on Windows: folder listing, folder creation, folder
// identity, local file times as MS-DOS dates, and random bytes from RtlGenRandom
// (SystemFunction036 of advapi32).
#include "tools/kxmedium_os.h"

#include <windows.h>

#include <algorithm>

namespace kxmedium {

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

}  // namespace kxmedium
