// The few operating-system services kxmedium needs beyond the platform layer: listing a
// folder, making one, telling whether two paths name the same folder, and random bytes.
// The POSIX and Win32 sides are kxmedium_os_posix.cpp and kxmedium_os_win32.cpp.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kxmedium {

enum class EntryKind { File, Folder, Other };

struct FolderEntry {
  std::string name;  // the name as the file system reports it (ANSI; UTF-8 on POSIX)
  EntryKind kind = EntryKind::Other;
};

// Every entry of folder but "." and "..", sorted by name; false when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* out);

// Creates folder and any missing parents; true when it exists afterwards as a folder.
bool MakeFolders(const std::string& folder);

// True when both paths exist and name the same folder.
bool SameFolder(const std::string& a, const std::string& b);

// Fills the buffer from the system's cryptographic random source; false when it fails.
bool RandomBytes(uint8_t* buffer, size_t count);

// A file time as the MS-DOS date and time of the local time zone, seconds rounded down to
// even; false for times MS-DOS dates cannot hold (before 1980 or after 2107).
bool FileTimeToDos(const platform::FileTime& time, uint16_t* dosDate, uint16_t* dosTime);

// The system's reason for the file call that has just failed ("File too large"), to be taken
// at once, before another call can replace it.
std::string SystemReason();

// Joins a folder and a name with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace kxmedium
