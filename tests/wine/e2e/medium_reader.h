// What an installation from a medium must leave in the destination: the medium's companion
// files with their sizes and times, and every entry of its setup.kx under its base name with
// its size and stored time (the staged main program under its final name). Read from the
// archive's central directory, independently of the engine under test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct PayloadEntry {
  std::string name;  // stored name, folder part included
  uint32_t size = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
};

// The entries of a ZIP archive's central directory; empty when it cannot be read.
std::vector<PayloadEntry> ReadPayloadEntries(const std::string& archive);

// The base name an entry is written under, and the name it ends under after the setup has
// renamed the staged main program.
std::string InstalledName(const PayloadEntry& entry);

// Everything that is wrong with folder as an installation from medium (a trailing backslash
// on medium): one line per missing or differing file. Empty when the installation is whole.
std::vector<std::string> MissingFromInstallation(const std::string& medium,
                                                 const std::string& folder);

}  // namespace e2e
