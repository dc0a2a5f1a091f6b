// A small, bounds-checked reader of a ZIP archive's central directory and of the local header
// each directory entry points to: what verify needs to see that every entry is encrypted and
// which names the archive holds, and what the installation tests compare an installation
// with. Independent of the engine, which walks local headers only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kxmedium {

struct DirectoryEntry {
  std::string name;  // stored name, OEM bytes
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t compressedSize = 0;
  uint32_t size = 0;
  uint32_t localOffset = 0;
  // The local header at localOffset has the signature, the same name and the same
  // encryption flag.
  bool localHeaderMatches = false;
};

// Reads the directory of the archive at path. False with a reason when there is no valid end
// record or the directory does not lie within the file.
bool ReadZipDirectory(const std::string& path, std::vector<DirectoryEntry>* entries,
                      std::string* error);

}  // namespace kxmedium
