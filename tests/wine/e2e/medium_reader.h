// What an installation from a medium must leave in the destination: the medium's companion
// files with their sizes and times, and every entry of its setup.kx under its base name with
// its size and stored time (the staged main program under its final name). Read from the
// archive's central directory with kxmedium's reader, independently of the engine under test.
#pragma once

#include "tools/kxmedium_zipdir.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// The base name an entry is written under, and the name it ends under after the setup has
// renamed the staged main program.
std::string InstalledName(const kxmedium::DirectoryEntry& entry);

// Everything that is wrong with folder as an installation from medium (a trailing backslash
// on medium): one line per missing or differing file. Empty when the installation is whole.
std::vector<std::string> MissingFromInstallation(const std::string& medium,
                                                 const std::string& folder);

// Damages a medium's archive the way a bad disk would: flips one byte in the data of the first
// entry whose data is longer than its 12-byte encryption header. False when there is none.
bool FlipByteInFirstEntryData(const std::string& archive);

// Renames an entry in both its local and its central header (the names must be of the same
// length, so nothing else moves). False when the entry is not found in both.
bool RenameEntry(const std::string& archive, const std::string& from, const std::string& to);

}  // namespace e2e
