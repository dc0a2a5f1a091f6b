// The total size and meter range as the setup computes them from a medium: companion files
// at their listed size, or at their expanded size when they are SZDD-compressed, plus the
// payload archive's size; the byte sum shifted right by 10, and that divided by 10.
#pragma once

#include <cstdint>
#include <string>

namespace kxmedium {

// The expanded size from a 14-byte SZDD header when the file starts with one, else listed.
uint32_t ExpandedFileSize(const std::string& path, uint32_t listedSize);

struct MediumTotal {
  uint64_t bytes = 0;  // the true sum
  // The setup adds in 32 bits; a sum that does not fit makes its meter wrong.
  bool fitsSetup() const { return bytes <= 0xFFFFFFFFull; }
  uint32_t totalKB() const { return static_cast<uint32_t>(bytes) >> 10; }
  uint32_t meterRange() const { return totalKB() / 10; }
};

// "total N bytes (K KB), meter range R".
std::string DescribeTotal(const MediumTotal& total);

}  // namespace kxmedium
