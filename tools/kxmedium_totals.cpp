// SZDD header (compressed companion files): "SZDD" 88 F0 27 33, a mode byte, the missing last
// character of the name, then the expanded size as a little-endian 32-bit value at offset 10.
#include "tools/kxmedium_totals.h"

#include "extract/zip_format.h"
#include "platform/handles.h"

#include <cstring>

namespace kxmedium {

uint32_t ExpandedFileSize(const std::string& path, uint32_t listedSize) {
  static constexpr uint8_t kSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
  const platform::File file(platform::FileOpenRead(path.c_str()));
  if (!file) return listedSize;
  uint8_t header[14];
  const unsigned got = platform::FileRead(file.get(), header, sizeof header);
  if (got != sizeof header || std::memcmp(header, kSignature, sizeof kSignature) != 0)
    return listedSize;
  return zip::Le32(header + 10);
}

std::string DescribeTotal(const MediumTotal& total) {
  return "total " + std::to_string(total.bytes) + " bytes (" + std::to_string(total.totalKB()) +
         " KB), meter range " + std::to_string(total.meterRange());
}

}  // namespace kxmedium
