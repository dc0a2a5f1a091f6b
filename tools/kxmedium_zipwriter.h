// Writes the payload archive: one local header with sizes and CRC-32 before each entry's
// encrypted data, then the central directory and its end record. Entries are deflated or,
// where that does not make them smaller (or when asked), stored.
#pragma once

#include "platform/handles.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kxmedium {

// The ZIP format's 32-bit offsets, and the engine's positions kept in a signed long: no
// archive may reach 2 GiB.
inline constexpr uint64_t kMaxArchiveSize = 0x7FFFFFFF;
inline constexpr size_t kMaxEntries = 65535;

struct ZipEntryInfo {
  std::string name;  // stored name, OEM code page bytes
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;  // the 12-byte encryption header included
  uint32_t size = 0;
  uint32_t localOffset = 0;
};

class ZipWriter {
 public:
  ZipWriter(std::string path, std::string password, bool storeOnly);
  ~ZipWriter();  // deletes the file unless Finish succeeded
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  bool Open(std::string* error);
  bool AddEntry(const std::string& name, std::span<const uint8_t> data, uint16_t dosDate,
                uint16_t dosTime, std::string* error);
  bool Finish(std::string* error);

  const std::vector<ZipEntryInfo>& entries() const { return entries_; }
  uint64_t size() const { return offset_; }

 private:
  bool Write(const std::vector<uint8_t>& bytes, std::string* error);

  std::string path_;
  std::string password_;
  bool storeOnly_;
  platform::File file_;
  bool finished_ = false;
  uint64_t offset_ = 0;
  std::vector<ZipEntryInfo> entries_;
};

}  // namespace kxmedium
