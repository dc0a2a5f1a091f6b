// The CRC-32 as the output stream runs it, against its bit-by-bit definition: every length and
// alignment around its eight-byte steps, whole and in two uneven pieces. (Decryption is tested
// through the engine's runs on encrypted entries.)
#include "extract/crc32.h"
#include "tests/extract/zip_builder.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  return bytes;
}

TEST(Crc32, EveryLengthAlignmentAndSplitMatchesTheDefinition) {
  const std::string bytes = RandomBytes(40000, 3);
  EXPECT_EQ(Crc32("12345678", 8), 0x9AE0DAAFu);   // run alone, the first call sets up its tables
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);  // the check value of CRC-32
  for (size_t offset = 0; offset < 8; ++offset)
    for (size_t length : {0, 1, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 28672, 28673, 32768}) {
      const std::string piece = bytes.substr(offset, length);
      EXPECT_EQ(Crc32(piece.data(), length), zipbuild::Crc32Of(piece)) << offset << " " << length;
      uint32_t crc = 0xFFFFFFFFu;  // the same bytes in two uneven pieces
      crc = UpdateCrc32(crc, piece.data(), length / 3);
      crc = UpdateCrc32(crc, piece.data() + length / 3, length - length / 3);
      EXPECT_EQ(~crc, zipbuild::Crc32Of(piece)) << offset << " " << length;
    }
}

}  // namespace
