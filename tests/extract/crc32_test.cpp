// The CRC-32 table against its polynomial, the check value, and running updates.
#include "extract/crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Crc32Test, TableIsTheReflectedPolynomialShiftedThroughEachByte) {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    EXPECT_EQ(kCrc32Table[n], c) << n;
  }
}

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Crc32("hello", 5), 0x3610A686u);
  const std::string zeros(32, '\0');
  EXPECT_EQ(Crc32(zeros.data(), zeros.size()), 0x190A55ADu);
}

TEST(Crc32Test, RunningUpdateInPiecesEqualsOneUpdate) {
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31 + (i >> 7));
  const uint32_t whole = Crc32(data.data(), data.size());
  for (size_t piece : {1u, 7u, 28672u, 65535u}) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t at = 0; at < data.size(); at += piece)
      crc = UpdateCrc32(crc, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(~crc, whole) << piece;
  }
}

}  // namespace
